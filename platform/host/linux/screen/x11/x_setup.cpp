#include "x_setup.h"

#include <cstring>

namespace x11 {
namespace {

// The bytes not read yet; each take or skip fails, and leaves nothing taken, past the end.
class Bytes {
public:
    Bytes(const uint8_t* at, size_t left) : at(at), left(left) {}

    template <typename T>
    bool take(T& to) {
        if (left < sizeof to) return false;
        std::memcpy(&to, at, sizeof to);
        return skip(sizeof to);
    }
    bool skip(size_t count) {
        if (left < count) return false;
        at += count;
        left -= count;
        return true;
    }

private:
    const uint8_t* at;
    size_t left;
};

size_t padded(size_t length) { return (length + 3) & ~size_t{3}; }

}  // namespace

bool read_screen_setup(const uint8_t* bytes, size_t size, int screen_number, ScreenSetup& read) {
    Bytes rest(bytes, size);
    ScreenSetup screen;
    xcb_setup_t setup;
    if (screen_number < 0 || !rest.take(setup) || !rest.skip(padded(setup.vendor_len))) return false;
    Bytes pixmap_formats = rest;
    if (!rest.skip(size_t{setup.pixmap_formats_len} * sizeof(xcb_format_t))) return false;

    for (int i = 0; i < setup.roots_len; ++i) {
        xcb_screen_t candidate;
        if (!rest.take(candidate)) return false;
        const bool wanted = i == screen_number;
        if (wanted) {
            screen.root = candidate.root;
            screen.width = candidate.width_in_pixels;
            screen.height = candidate.height_in_pixels;
            screen.format.msb_first = setup.image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        }
        for (int d = 0; d < candidate.allowed_depths_len; ++d) {
            xcb_depth_t depth;
            if (!rest.take(depth)) return false;
            for (int v = 0; v < depth.visuals_len; ++v) {
                xcb_visualtype_t visual;
                if (!rest.take(visual)) return false;
                if (wanted && visual.visual_id == candidate.root_visual && visual._class == XCB_VISUAL_CLASS_TRUE_COLOR) {
                    screen.format.red_mask = visual.red_mask;
                    screen.format.green_mask = visual.green_mask;
                    screen.format.blue_mask = visual.blue_mask;
                }
            }
        }
        for (int f = 0; wanted && f < setup.pixmap_formats_len; ++f) {
            xcb_format_t format;
            if (!pixmap_formats.take(format)) return false;
            if (format.depth == candidate.root_depth) {
                screen.format.bits_per_pixel = format.bits_per_pixel;
                screen.format.scanline_pad = format.scanline_pad;
            }
        }
    }
    if (screen_number >= setup.roots_len) return false;
    read = screen;
    return true;
}

bool image_holds(const host::PixelFormat& format, int columns, int rows, size_t length) {
    return columns >= 0 && rows >= 0 && format.stride(columns) * static_cast<size_t>(rows) <= length;
}

}  // namespace x11
