// Pixels as a screen source sends them (an X server's ZPixmap, a PipeWire frame), and their
// conversion to the 32-bit BI_RGB layout: 0x00RRGGBB read as a little-endian word, blue low.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

struct PixelFormat {
    int bits_per_pixel = 0;  // 8, 16, 24 or 32
    int scanline_pad = 32;   // rows start on a multiple of this many bits
    bool msb_first = false;  // byte order of a pixel
    uint32_t red_mask = 0, green_mask = 0, blue_mask = 0;

    // True colour with contiguous masks of 1 to 16 bits each: what convert_row can read.
    // Palette visuals (and DirectColor, whose values go through a colour map) are not.
    bool supported() const;
    size_t stride(int width) const;
    void convert_row(const uint8_t* from, int width, uint32_t* to) const;
};

}  // namespace host
