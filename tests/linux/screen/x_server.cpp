#include "x_server.h"

#include <fcntl.h>
#include <xcb/xcbext.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace {

// Whether some server, perhaps in another mount namespace that shares the abstract sockets,
// already answers for the display: -displayfd alone would then hand out its number again.
bool taken(int display) {
    std::string name = "/tmp/.X11-unix/X" + std::to_string(display);
    if (access(("/tmp/.X" + std::to_string(display) + "-lock").c_str(), F_OK) == 0 || access(name.c_str(), F_OK) == 0)
        return true;
    std::ifstream sockets("/proc/net/unix");
    std::string line;
    while (std::getline(sockets, line))
        if (line.size() > name.size() && line.compare(line.size() - name.size() - 1, std::string::npos, "@" + name) == 0)
            return true;
    return false;
}

}  // namespace

XServer::XServer(int width, int height, int depth, std::vector<std::string> extra)
    : extra_(std::move(extra)), width_(width), height_(height), depth_(depth) {
    for (int display = 100 + getpid() % 800, tries = 0; name_.empty() && tries < 50; ++display, ++tries)
        if (!taken(display)) start(display, extra_);
}

void XServer::start(int display, const std::vector<std::string>& extra) {
    display_ = display;
    int ready[2];
    if (pipe(ready) != 0) return;
    std::string geometry = std::to_string(width_) + "x" + std::to_string(height_) + "x" + std::to_string(depth_);
    std::vector<std::string> words = {"Xvfb", ":" + std::to_string(display), "-displayfd", std::to_string(ready[1]),
                                      "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(ready[0]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(ready[1]);
    // Xvfb writes its display number once it accepts clients, and exits if the number is taken.
    // A generous bound for a busy machine.
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&wait, 1, 30000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (number.empty())
        kill();
    else
        name_ = ":" + number;
}

XServer::~XServer() { kill(); }

void XServer::pause() { ::kill(pid_, SIGSTOP); }
void XServer::resume() { ::kill(pid_, SIGCONT); }

void XServer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::kill(pid_, SIGCONT);  // a stopped server takes its SIGTERM once it goes on
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void XServer::restart(int width, int height) {
    kill();
    name_.clear();
    width_ = width;
    height_ = height;
    // The old server's lock file and socket go as it exits; a bounded wait for a busy machine.
    for (int tries = 0; name_.empty() && tries < 100; ++tries) {
        if (!taken(display_)) start(display_, extra_);
        if (name_.empty()) usleep(50000);
    }
}

namespace {

// RandR requests, sent raw: the tests need three of them and no library for them.
xcb_extension_t randr{"RANDR", 0};

template <typename Request>
unsigned int send_randr(xcb_connection_t* c, Request& request, uint8_t opcode, bool replies) {
    iovec parts[4];
    parts[2] = {&request, sizeof request};
    parts[3] = {nullptr, 0};
    xcb_protocol_request_t kind{2, &randr, opcode, replies};
    return xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &kind);
}

}  // namespace

void XServer::shrink(int width, int height) {
    xcb_connection_t* c = xcb_connect(name_.c_str(), nullptr);
    if (xcb_connection_has_error(c)) throw std::runtime_error("cannot reach " + name_);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    struct { uint8_t major, minor; uint16_t length; uint32_t major_version, minor_version; } version{0, 0, 0, 1, 2};
    std::free(xcb_wait_for_reply(c, send_randr(c, version, 0, true), nullptr));
    // The screen cannot be smaller than the picture its output shows: switch the output off first.
    struct { uint8_t major, minor; uint16_t length; uint32_t window; } resources{0, 0, 0, root};
    auto* current = static_cast<uint8_t*>(xcb_wait_for_reply(c, send_randr(c, resources, 25, true), nullptr));
    if (!current) throw std::runtime_error("no RandR on " + name_);
    struct __attribute__((packed)) {
        uint8_t major, minor;
        uint16_t length;
        uint32_t crtc, timestamp, config_timestamp;
        int16_t x, y;
        uint32_t mode;
        uint16_t rotation, pad;
    } off{0, 0, 0, *reinterpret_cast<uint32_t*>(current + 32), *reinterpret_cast<uint32_t*>(current + 8),
          *reinterpret_cast<uint32_t*>(current + 12), 0, 0, 0, 1, 0};
    std::free(current);
    std::free(xcb_wait_for_reply(c, send_randr(c, off, 21, true), nullptr));
    struct __attribute__((packed)) {
        uint8_t major, minor;
        uint16_t length;
        uint32_t window;
        uint16_t width, height;
        uint32_t mm_width, mm_height;
    } size{0, 0, 0, root, static_cast<uint16_t>(width), static_cast<uint16_t>(height), 100, 100};
    xcb_generic_error_t* error = xcb_request_check(c, {send_randr(c, size, 7, false)});
    xcb_disconnect(c);
    if (error) {
        std::free(error);
        throw std::runtime_error("RandR refused the size on " + name_);
    }
    width_ = width;
    height_ = height;
}

void XServer::draw(const void* pixels, int bytes_per_pixel) {
    xcb_connection_t* c = xcb_connect(name_.c_str(), nullptr);
    if (xcb_connection_has_error(c)) throw std::runtime_error("cannot reach " + name_);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    // In bands that fit one request.
    const size_t stride = static_cast<size_t>(width_) * bytes_per_pixel;
    const size_t room = static_cast<size_t>(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int band = static_cast<int>(std::max<size_t>(1, room / stride));
    auto* bytes = static_cast<const uint8_t*>(pixels);
    for (int top = 0; top < height_; top += band) {
        int rows = std::min(band, height_ - top);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, static_cast<uint16_t>(width_),
                      static_cast<uint16_t>(rows), 0, static_cast<int16_t>(top), 0, static_cast<uint8_t>(depth_),
                      static_cast<uint32_t>(stride * rows), bytes + stride * top);
    }
    xcb_free_gc(c, gc);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    bool failed = xcb_connection_has_error(c);
    xcb_disconnect(c);
    if (failed) throw std::runtime_error("drawing on " + name_ + " failed");
}

std::vector<uint32_t> picture(int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels[static_cast<size_t>(y) * width + x] = picture_pixel(x, y);
    return pixels;
}
