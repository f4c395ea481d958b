// The Wayland desktop of tests/env/devices.sh --wayland, driven through swaymsg: one output
// HEADLESS-1 of 1280x720 at (0, 0), first filled with #ff8000; no X server.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace wayland {

const int width = 1280, height = 720;
const uint32_t first_colour = 0xFF8000;
// What sway shows where no background is drawn: while swaybg starts over, which every change of
// an output's configuration (a repaint, a new size) makes it do.
const uint32_t sway_grey = 0x3F3F3F;

inline bool sway(const std::string& command) { return std::system(("swaymsg " + command + " >/dev/null").c_str()) == 0; }

inline std::string colour_name(uint32_t rgb) {
    char name[8];
    std::snprintf(name, sizeof name, "#%06x", rgb);
    return name;
}

inline bool show_colour(uint32_t rgb, const char* output = "HEADLESS-1") {
    return sway(std::string("output ") + output + " bg '" + colour_name(rgb) + "' solid_color");
}

// A picture in which every pixel of the output differs: red the column, green the row (both
// modulo 256), blue which 256 x 256 block they lie in.
inline uint32_t picture_pixel(int x, int y) {
    return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t((x >> 8) | (y >> 8) << 4);
}

// Shows the picture, `w` x `h` pixels, as the output's background, through swaybg's image mode
// (`center`, or `stretch` to fill an output of another size).
inline bool show_picture(int w = width, int h = height, const char* mode = "center") {
    std::string path = std::string(std::getenv("DEVICES_DIR")) + "/picture.ppm";
    {
        std::ofstream file(path, std::ios::binary);
        file << "P6\n" << w << " " << h << "\n255\n";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t p = picture_pixel(x, y);
                const char rgb[3] = {char(p >> 16), char(p >> 8), char(p)};
                file.write(rgb, 3);
            }
    }
    return sway("output HEADLESS-1 bg " + path + " " + mode);
}

// The compositor's own picture of an output, through grim at `scale` (the output's, so that
// grim copies its pixels one for one), as 0x00RRGGBB rows; empty when grim fails.
inline std::vector<uint32_t> screenshot(const char* scale, int& w, int& h, const char* output = "HEADLESS-1") {
    std::string path = std::string(std::getenv("DEVICES_DIR")) + "/grim.ppm";
    w = h = 0;
    if (std::system(("grim -s " + std::string(scale) + " -o " + output + " -t ppm " + path + " 2>/dev/null").c_str()) != 0)
        return {};
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int max = 0;
    file >> magic >> w >> h >> max;
    file.get();
    if (magic != "P6" || max != 255 || w <= 0 || h <= 0) return {};
    std::vector<uint32_t> pixels;
    for (int i = 0; i < w * h; ++i) {
        unsigned char rgb[3];
        if (!file.read(reinterpret_cast<char*>(rgb), 3)) return {};
        pixels.push_back(uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2]);
    }
    return pixels;
}

// The pid a process of the environment left in $DEVICES_DIR/NAME.pid.
inline int environment_pid(const char* name) {
    std::ifstream file(std::string(std::getenv("DEVICES_DIR")) + "/" + name + ".pid");
    int pid = 0;
    file >> pid;
    return pid;
}

// Calls `test` until it holds or `seconds` pass: frames come some milliseconds after a change.
// xdg-desktop-portal-wlr 0.7.0 now and then misses the damage
// of a change and sends no frame until the next one (a picture that never came, on a machine at
// load 9): `repaint`, where given, paints the same pixels again meanwhile. A repaint restarts
// swaybg, which on a busy machine can take seconds to show a large picture, so each repaint
// waits twice as long as the one before it (1, 2, 4 s...) rather than cutting the last one short.
inline bool eventually(const std::function<bool()>& test, int seconds = 5, const std::function<void()>& repaint = {}) {
    DWORD start = GetTickCount(), painted = start, interval = 1000;
    for (; GetTickCount() - start < DWORD(seconds) * 1000; Sleep(20)) {
        if (test()) return true;
        if (repaint && GetTickCount() - painted >= interval) {
            repaint();
            painted = GetTickCount();
            interval *= 2;
        }
    }
    return test();
}

// xdg-desktop-portal-wlr 0.7.0 now and then loses the first frame of a still screen (it
// captures before the stream has a buffer to put it in, then waits for damage). While a test's
// first grab waits for that frame, this paints the same colour again every half second, which
// damages the output without changing a pixel.
class RepaintWhileOpening {
public:
    explicit RepaintWhileOpening(uint32_t rgb) : painter([this, rgb] {
        for (int i = 0; i < 20 && !done; ++i) {
            for (int waited = 0; waited < 500 && !done; waited += 10) Sleep(10);
            if (!done) show_colour(rgb);
        }
    }) {}
    ~RepaintWhileOpening() {
        done = true;
        painter.join();
    }

private:
    std::atomic<bool> done{false};
    std::thread painter;
};

}  // namespace wayland
