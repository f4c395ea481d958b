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

// Whether the root window's pixels are in a format PixelFormat::convert_row reads (true colour).
bool readable(const Display& display);

// A rectangle of the root window as the server sent it, held until the shot is destroyed: in a
// MIT-SHM segment that then goes back to the display's pool, or in the plain GetImage reply.
class Shot {
public:
    struct Pixels;
    Shot(std::unique_ptr<Pixels> pixels, int left, int top, int columns, int rows);
    ~Shot();
    Shot(const Shot&) = delete;
    Shot& operator=(const Shot&) = delete;

    // Row `row` (0 to rows - 1) of the part that lay on the screen, as 0x00RRGGBB pixels.
    void convert_row(int row, uint32_t* to) const;

    // That part, from the corner of the rectangle asked for.
    const int left, top, columns, rows;

private:
    std::unique_ptr<Pixels> pixels;
};

// Reads the rectangle, clipped to the root window as it is at the time of the read (RandR may
// resize it), in one round trip to the server. Null when the server refuses (an XWayland root
// window answers BadMatch), the connection broke or the format is not readable; a shot of no
// rows when no pixel of the rectangle lies on the screen.
std::unique_ptr<Shot> shoot(const std::shared_ptr<Display>& display, int x, int y, int width, int height);

struct DisplayCensus {
    int displays;     // open connections
    int segments;     // MIT-SHM segments attached, in use or pooled
    int shm_reads;    // rectangles read so far with MIT-SHM
    int plain_reads;  // and with a plain GetImage
};
DisplayCensus display_census();

}  // namespace x11
