// Where each monitor lies on the one desktop of physical pixels that grabs are given in: the
// picture a DPI-aware Windows process and X11 give. A compositor that scales (GNOME with
// scale-monitor-framebuffer, sway with `output <name> scale 2`) reports each monitor's position
// and size in its logical pixels, through the portal's streams or xdg-output, while the frames
// come in physical ones, so logical places cannot be used as they are.
//
// The rule, per axis:
// - A monitor's scale is its frame's size against the size the compositor reports (1
//   where it reports none); its physical size is its frame's.
// - A monitor that has others before it on an axis (ending at or before its start, and sharing
//   rows with it for x, columns for y) follows the nearest of them, those that end last: it
//   starts where that neighbour ends physically (the furthest, if several end there), plus the
//   logical gap between them at the neighbour's scale. Monitors that touch keep touching,
//   whatever their scales, and a gap the compositor has is kept.
// - With none before it on that axis, it keeps the offset it has from the monitor it was placed
//   after on the other axis, at that monitor's scale: a monitor of scale 2 right of one of scale
//   1 and 540 logical pixels lower starts 540 physical pixels lower.
// - A monitor with none before it on either axis lies at its logical position times its scale.
// So monitors of one scale lie at their logical places times that scale, and monitors of mixed
// scales in a row or a column lie edge to edge as the compositor shows them.
#pragma once

#include <vector>

namespace screen {

struct MonitorSize {
    int x, y, width, height;      // in logical pixels, as the compositor reports them
    int frame_width, frame_height;  // of its frames, in physical pixels
};

struct Position {
    int x, y;
};

// The physical position of each monitor, in the same order.
std::vector<Position> physical_layout(const std::vector<MonitorSize>& monitors);

}  // namespace screen
