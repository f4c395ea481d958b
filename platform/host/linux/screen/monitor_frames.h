// A rectangle of the desktop read from the monitors' latest frames, each placed where its
// monitor lies (monitor_layout.h); black wherever no frame lies.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "screen/source.h"

namespace screen {

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows from the top, no padding
};

// A monitor's latest frame placed on the desktop.
struct Placed {
    int x, y;
    std::shared_ptr<const Frame> frame;
};

// The shot holds the frames, so a newer frame may arrive while it is read.
std::unique_ptr<Shot> shoot_frames(std::vector<Placed> frames, int x, int y, int width, int height);

}  // namespace screen
