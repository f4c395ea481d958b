#include "pixel_format.h"

#include <cstring>

namespace host {
namespace {

typedef uint32_t Four __attribute__((vector_size(16)));

bool contiguous(uint32_t mask) {
    if (!mask) return false;
    uint32_t low = mask >> __builtin_ctz(mask);
    return (low & (low + 1)) == 0 && __builtin_popcount(mask) <= 16;
}

// The channel scaled to 8 bits, rounded: a 5-bit 31 becomes 255, a 6-bit 32 becomes 130.
uint32_t channel(uint32_t pixel, uint32_t mask) {
    uint32_t largest = mask >> __builtin_ctz(mask);
    uint32_t value = (pixel & mask) >> __builtin_ctz(mask);
    return (value * 255 + largest / 2) / largest;
}

uint32_t read_pixel(const uint8_t* at, int bytes, bool msb_first) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint32_t{at[msb_first ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
    return value;
}

}  // namespace

bool PixelFormat::supported() const {
    bool whole_bytes = bits_per_pixel == 8 || bits_per_pixel == 16 || bits_per_pixel == 24 || bits_per_pixel == 32;
    return whole_bytes && scanline_pad >= 8 && scanline_pad % 8 == 0 && contiguous(red_mask) &&
           contiguous(green_mask) && contiguous(blue_mask);
}

size_t PixelFormat::stride(int width) const {
    size_t bits = static_cast<size_t>(width) * static_cast<size_t>(bits_per_pixel);
    size_t pad = static_cast<size_t>(scanline_pad);
    return (bits + pad - 1) / pad * pad / 8;
}

void PixelFormat::convert_row(const uint8_t* from, int width, uint32_t* to) const {
    // The usual screen (depth 24 in 32-bit little-endian words) is already in place; the unused
    // byte is cleared on the way, as a 32-bit DIB from a 24-bit screen has it.
    if (bits_per_pixel == 32 && !msb_first && red_mask == 0xFF0000 && green_mask == 0xFF00 && blue_mask == 0xFF) {
        int i = 0;
        for (; i + 4 <= width; i += 4) {  // four at a time, one vector register on every x86-64
            Four pixels;
            std::memcpy(&pixels, from + static_cast<size_t>(i) * 4, sizeof pixels);
            pixels &= 0x00FFFFFF;
            std::memcpy(to + i, &pixels, sizeof pixels);
        }
        for (; i < width; ++i) to[i] = (uint32_t{from[i * 4]} | uint32_t{from[i * 4 + 1]} << 8 | uint32_t{from[i * 4 + 2]} << 16);
        return;
    }
    // Red first in memory (PipeWire's RGBx and RGBA): red and blue trade places.
    if (bits_per_pixel == 32 && !msb_first && red_mask == 0xFF && green_mask == 0xFF00 && blue_mask == 0xFF0000) {
        for (int i = 0; i < width; ++i) {
            const uint8_t* p = from + static_cast<size_t>(i) * 4;
            to[i] = uint32_t{p[2]} | uint32_t{p[1]} << 8 | uint32_t{p[0]} << 16;
        }
        return;
    }
    const int bytes = bits_per_pixel / 8;
    for (int i = 0; i < width; ++i) {
        uint32_t pixel = read_pixel(from + static_cast<size_t>(i) * bytes, bytes, msb_first);
        to[i] = channel(pixel, red_mask) << 16 | channel(pixel, green_mask) << 8 | channel(pixel, blue_mask);
    }
}

}  // namespace host
