// What a grab needs of the X server's connection setup and replies, read with every count and
// length the server sent checked against the bytes it sent: a hostile or broken server gives no
// screen, never a read past the end.
#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>

#include "screen/pixel_format.h"

namespace x11 {

struct ScreenSetup {
    xcb_window_t root = 0;
    int width = 0, height = 0;
    host::PixelFormat format;  // bits_per_pixel 0 when no pixmap format has the root's depth
};

// Screen `screen_number` of the setup in `bytes` (all `size` of them, the 8-byte header included),
// or false (and `read` untouched) when any part the setup counts lies past the end, or there is
// no such screen.
bool read_screen_setup(const uint8_t* bytes, size_t size, int screen_number, ScreenSetup& read);

// Whether `length` bytes of a GetImage reply hold `rows` rows of `columns` pixels in `format`, each
// padded as the format says: what convert_row may then read of them.
bool image_holds(const host::PixelFormat& format, int columns, int rows, size_t length);

}  // namespace x11
