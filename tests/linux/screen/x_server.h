// A private Xvfb for the screen tests, and a client of it that draws on the root window.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

class XServer {
public:
    // Xvfb :D -displayfd N -screen 0 WxHxdepth -nolisten tcp -noreset [extra...] on a free display D
    // (without -noreset the server starts afresh, blank, whenever its last client leaves);
    // name() is empty if none came up.
    XServer(int width, int height, int depth, std::vector<std::string> extra = {});
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& name() const { return name_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void kill();
    // Stops the server (SIGSTOP) and lets it go on (SIGCONT), as a debugger or the OOM killer's
    // freezer would: it keeps its connections and answers nothing meanwhile.
    void pause();
    void resume();
    // Stops the server and starts a new one of another size on the same display number.
    void restart(int width, int height);
    // Shrinks the screen through RandR, as a user changing the resolution would.
    void shrink(int width, int height);

    // Puts `pixels` (ZPixmap words of the root's depth, rows from the top, one 32-bit word or
    // 16-bit half-word per pixel as `bytes_per_pixel` says) on the root window and waits until
    // the server has drawn them.
    void draw(const void* pixels, int bytes_per_pixel);

private:
    void start(int display, const std::vector<std::string>& extra);

    pid_t pid_ = -1;
    int display_ = -1;
    std::vector<std::string> extra_;
    std::string name_;
    int width_, height_, depth_;
};

// The test picture: distinct everywhere up to 4096 x 4096, a high byte that a reader must drop.
inline uint32_t picture_pixel(int x, int y) {
    return 0xAB000000u | static_cast<uint32_t>(x & 0xFFF) | static_cast<uint32_t>(y & 0xFFF) << 12;
}
std::vector<uint32_t> picture(int width, int height);
