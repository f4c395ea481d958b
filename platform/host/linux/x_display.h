// The X display behind the screen's device context: one connection per $DISPLAY, shared by
// every thread (XCB connections are thread-safe) and reopened when $DISPLAY names another
// display or the connection broke. XCB hands X errors back as values; nothing here can end
// the process the way Xlib's default error handler does.
#pragma once

#include <memory>

#include <cstddef>
#include <cstdint>

namespace x11 {

class Display;

// The display $DISPLAY names, or null when there is none (no $DISPLAY, no server, no libxcb).
std::shared_ptr<Display> current_display();

// The root window's size now (it may change under RandR); false when the server does not answer.
bool root_size(Display& display, int& width, int& height);

// Reads the rectangle, which must lie on the root window, into 0x00RRGGBB rows `stride`
// pixels apart: with MIT-SHM when the server offers it, with a plain GetImage otherwise.
// False, with nothing written, when the server refuses (an XWayland root window answers
// BadMatch) or the root window's format is one convert_row cannot read.
bool read_root(Display& display, int x, int y, int width, int height, uint32_t* to, size_t stride);

struct DisplayCensus {
    int displays;     // open connections
    int shm_reads;    // rectangles read so far with MIT-SHM
    int plain_reads;  // and with a plain GetImage
};
DisplayCensus display_census();

}  // namespace x11
