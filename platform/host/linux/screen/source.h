// What a screen source gives GDI: the X server ($DISPLAY, x11/), or on a Wayland desktop the
// compositor's screencopy (screencopy/) or the desktop portal's ScreenCast over PipeWire
// (portal/). Sources implement this and know nothing of GDI or of each other; which one is read
// is chosen in one place (current_source.h). What two of them share (placing monitors, their
// frames, pixel formats) lies beside this file.
#pragma once

#include <cstdint>
#include <memory>

namespace screen {

// A rectangle of the screen as the source sent it, held until the shot is destroyed.
class Shot {
public:
    Shot(int left, int top, int columns, int rows) : left(left), top(top), columns(columns), rows(rows) {}
    virtual ~Shot() = default;
    Shot(const Shot&) = delete;
    Shot& operator=(const Shot&) = delete;

    // Row `row` (0 to rows - 1) of the part that lay on the screen, as 0x00RRGGBB pixels.
    virtual void convert_row(int row, uint32_t* to) const = 0;

    // That part, from the corner of the rectangle asked for; what lies outside it is black.
    const int left, top, columns, rows;
};

class Source {
public:
    virtual ~Source() = default;

    // Whether pixels can be read at all (an X screen in a format we convert, a portal session
    // that has not failed).
    virtual bool readable() const = 0;

    // Reads the rectangle, clipped to what the screen covers. Null when the source cannot read
    // it; a shot of no rows when no pixel of the rectangle lies on the screen.
    virtual std::unique_ptr<Shot> shoot(int x, int y, int width, int height) = 0;
};

}  // namespace screen
