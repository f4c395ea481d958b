#include "monitor_frames.h"

#include <algorithm>
#include <cstring>

namespace screen {
namespace {

class FramesShot : public Shot {
public:
    FramesShot(std::vector<Placed> frames, int64_t x, int64_t y, int left, int top, int columns, int rows)
        : Shot(left, top, columns, rows), frames(std::move(frames)), x(x + left), y(y + top) {}

    // A single monitor covers every row of the shot whole: only gaps between several are cleared.
    void convert_row(int row, uint32_t* to) const override {
        if (frames.size() != 1) std::fill_n(to, columns, 0u);
        const int64_t at_y = y + row;
        for (const Placed& p : frames) {
            const int64_t frame_row = at_y - p.y;
            if (frame_row < 0 || frame_row >= p.frame->height) continue;
            const int64_t first = std::max<int64_t>(x, p.x);
            const int64_t last = std::min<int64_t>(x + columns, int64_t{p.x} + p.frame->width);
            if (first >= last) continue;
            std::memcpy(to + (first - x), p.frame->pixels.data() + frame_row * p.frame->width + (first - p.x),
                        static_cast<size_t>(last - first) * 4);
        }
    }

private:
    const std::vector<Placed> frames;
    const int64_t x, y;  // the desktop position of the shot's corner
};

}  // namespace

std::unique_ptr<Shot> shoot_frames(std::vector<Placed> frames, int x, int y, int width, int height) {
    // The part of the rectangle that the frames cover, in 64 bits: no edge may wrap.
    int64_t left = width, top = height, right = 0, bottom = 0;
    for (const Placed& p : frames) {
        left = std::min(left, std::max<int64_t>(0, int64_t{p.x} - x));
        top = std::min(top, std::max<int64_t>(0, int64_t{p.y} - y));
        right = std::max(right, std::min<int64_t>(width, int64_t{p.x} + p.frame->width - x));
        bottom = std::max(bottom, std::min<int64_t>(height, int64_t{p.y} + p.frame->height - y));
    }
    if (left >= right || top >= bottom) return std::make_unique<FramesShot>(std::vector<Placed>{}, x, y, 0, 0, 0, 0);
    return std::make_unique<FramesShot>(std::move(frames), x, y, static_cast<int>(left), static_cast<int>(top),
                                        static_cast<int>(right - left), static_cast<int>(bottom - top));
}

}  // namespace screen
