// Shared memory that the compositor copies an output's picture into: a memfd the size of the
// frame it announced, sealed against shrinking (so no compositor can make our reads fault), mapped
// here, with the wl_buffer over it. A shape is taken only when its format is one we convert and
// its size is bounded, whatever the compositor announces.
#pragma once

#include <cstdint>
#include <memory>

#include "protocols.h"
#include "screen/monitor_frames.h"

namespace screencopy {

struct Shape {
    uint32_t format = 0, width = 0, height = 0, stride = 0;  // as zwlr_screencopy_frame_v1.buffer gives them
    bool operator==(const Shape& o) const {
        return format == o.format && width == o.width && height == o.height && stride == o.stride;
    }
};

const uint32_t max_side = 16384;
const uint64_t max_frame_bytes = uint64_t{1} << 30;

// Whether a frame of this shape can be received: a wl_shm format of 16, 24 or 32 bits of true
// colour, each side 1 to max_side pixels, a stride that holds a row and at most max_frame_bytes.
bool receivable(const Shape& shape);

class ShmBuffer {
public:
    // Null when the shape is not receivable or the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(const Wayland& w, wl_proxy* shm, const Shape& shape);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    // What the compositor copied, as 0x00RRGGBB rows from the top, turned by the output's
    // wl_output transform (0 to 7) as the output shows it.
    void convert(bool y_invert, int transform, screen::Frame& to) const;

    const Shape shape;
    wl_proxy* const buffer;

private:
    ShmBuffer(const Wayland& w, const Shape& shape, wl_proxy* buffer, void* bytes, size_t size);
    const Wayland& w;
    void* const bytes;
    const size_t size;
};

}  // namespace screencopy
