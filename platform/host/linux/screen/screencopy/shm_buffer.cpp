#include "shm_buffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "screen/pixel_format.h"

namespace screencopy {
namespace {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// The wl_shm formats we convert, as little-endian words; alpha is ignored. Any other gives a
// format that is not supported().
host::PixelFormat pixel_format(uint32_t format) {
    switch (format) {
    case 0:  // ARGB8888
    case 1:  // XRGB8888
        return {32, 8, false, 0xFF0000u, 0xFF00u, 0xFFu};
    case fourcc('A', 'B', '2', '4'):
    case fourcc('X', 'B', '2', '4'):
        return {32, 8, false, 0xFFu, 0xFF00u, 0xFF0000u};
    case fourcc('A', 'R', '3', '0'):
    case fourcc('X', 'R', '3', '0'):
        return {32, 8, false, 0x3FF00000u, 0xFFC00u, 0x3FFu};
    case fourcc('A', 'B', '3', '0'):
    case fourcc('X', 'B', '3', '0'):
        return {32, 8, false, 0x3FFu, 0xFFC00u, 0x3FF00000u};
    case fourcc('R', 'G', '2', '4'):
        return {24, 8, false, 0xFF0000u, 0xFF00u, 0xFFu};
    case fourcc('B', 'G', '2', '4'):
        return {24, 8, false, 0xFFu, 0xFF00u, 0xFF0000u};
    case fourcc('R', 'G', '1', '6'):
        return {16, 8, false, 0xF800u, 0x7E0u, 0x1Fu};
    default:
        return {};
    }
}

}  // namespace

bool receivable(const Shape& s) {
    const host::PixelFormat format = pixel_format(s.format);
    return format.supported() && s.width >= 1 && s.width <= max_side && s.height >= 1 && s.height <= max_side &&
           uint64_t{s.stride} >= uint64_t{s.width} * (format.bits_per_pixel / 8) &&
           uint64_t{s.stride} * s.height <= max_frame_bytes;
}

std::unique_ptr<ShmBuffer> ShmBuffer::create(const Wayland& w, wl_proxy* shm, const Shape& shape) {
    if (!receivable(shape)) return nullptr;
    const size_t size = size_t{shape.stride} * shape.height;
    const int fd = memfd_create("orvanta-screencopy", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return nullptr;
    void* bytes = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0 && fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) == 0)
        bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (bytes == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    // The request carries a duplicate of the fd: ours can go at once.
    wl_proxy* pool = w.proxy_marshal_constructor(shm, shm_create_pool, w.shm_pool_interface, nullptr, fd,
                                                 static_cast<int32_t>(size));
    close(fd);
    wl_proxy* buffer = pool ? w.proxy_marshal_constructor(pool, shm_pool_create_buffer, w.buffer_interface, nullptr, 0,
                                                          static_cast<int32_t>(shape.width),
                                                          static_cast<int32_t>(shape.height),
                                                          static_cast<int32_t>(shape.stride), shape.format)
                            : nullptr;
    if (pool) {
        w.proxy_marshal(pool, shm_pool_destroy);
        w.proxy_destroy(pool);
    }
    if (!buffer) {
        munmap(bytes, size);
        return nullptr;
    }
    return std::unique_ptr<ShmBuffer>(new ShmBuffer(w, shape, buffer, bytes, size));
}

ShmBuffer::ShmBuffer(const Wayland& w, const Shape& shape, wl_proxy* buffer, void* bytes, size_t size)
    : shape(shape), buffer(buffer), w(w), bytes(bytes), size(size) {}

ShmBuffer::~ShmBuffer() {
    w.proxy_marshal(buffer, buffer_destroy);
    w.proxy_destroy(buffer);
    munmap(bytes, size);
}

void ShmBuffer::convert(bool y_invert, int transform, screen::Frame& to) const {
    const host::PixelFormat format = pixel_format(shape.format);
    const size_t w = shape.width, h = shape.height;
    const bool upright = transform == 0;
    std::vector<uint32_t> buffer_rows;  // as the buffer holds them, where the output is turned
    std::vector<uint32_t>& rows = upright ? to.pixels : buffer_rows;
    rows.resize(w * h);
    const auto* from = static_cast<const uint8_t*>(bytes);
    for (uint32_t row = 0; row < shape.height; ++row) {
        const uint32_t source_row = y_invert ? shape.height - 1 - row : row;
        format.convert_row(from + size_t{source_row} * shape.stride, static_cast<int>(w), rows.data() + row * w);
    }
    const bool sideways = transform & 1;
    to.width = static_cast<int>(sideways ? h : w);
    to.height = static_cast<int>(sideways ? w : h);
    if (upright) return;
    // The buffer turned by 90 degrees times (transform & 3), then for the flipped ones (4 to 7)
    // mirrored left to right.
    to.pixels.resize(w * h);
    const size_t out_w = static_cast<size_t>(to.width), out_h = static_cast<size_t>(to.height);
    for (size_t y = 0; y < out_h; ++y)
        for (size_t shown_x = 0; shown_x < out_w; ++shown_x) {
            const size_t x = transform & 4 ? out_w - 1 - shown_x : shown_x;
            size_t bx, by;
            switch (transform & 3) {
            case 0: bx = x, by = y; break;
            case 1: bx = y, by = h - 1 - x; break;
            case 2: bx = w - 1 - x, by = h - 1 - y; break;
            default: bx = w - 1 - y, by = x; break;
            }
            to.pixels[y * out_w + shown_x] = buffer_rows[by * w + bx];
        }
}

}  // namespace screencopy
