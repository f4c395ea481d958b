// A connection to the Wayland compositor of $WAYLAND_DISPLAY that offers wlroots' screencopy and
// xdg-output (sway and the other wlroots compositors): its outputs, each with the logical place
// and size xdg-output reports, followed as they come and go, and the latest picture of each.
//
// A thread of the connection's own talks to the compositor. While grabs come, it keeps every
// output's latest picture: the first copy is taken at once, each later one when the output
// changes (copy_with_damage), so grabs copy from it without waiting, and a still screen costs
// nothing. A second with no grab and it stops asking; the next grab then waits for a fresh copy.
// A compositor that closes the connection or sends what we cannot read breaks it for good; one
// that stalls leaves the latest pictures as they were.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "screen/monitor_frames.h"
#include "wayland_library.h"

namespace screencopy {

using Clock = std::chrono::steady_clock;

class Compositor {
public:
    // Null when there is no display, no libwayland-client, no screencopy or xdg-output offered,
    // no answer by the deadline, or no thread to be had.
    static std::unique_ptr<Compositor> connect(Clock::time_point deadline);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // Every output's latest picture, placed on the desktop of physical pixels
    // (screen/monitor_layout.h). Waits until the deadline at most for outputs that have no
    // current picture yet; leaves out those whose copy failed. Empty once the connection broke.
    std::vector<screen::Placed> latest(Clock::time_point deadline);

    bool broken();

    // Pictures received so far in this process, by every connection.
    static int copies();

    // Grabs older than this no longer keep the pictures current.
    static constexpr unsigned idle_after_ms = 1000;

    // The compositor's events, dispatched on the thread (while starting, on the caller's).
    struct Output;
    static void global(void* data, wl_proxy* registry, uint32_t name, const char* interface, uint32_t version);
    static void global_remove(void* data, wl_proxy* registry, uint32_t name);
    void placed(Output& output, const int* x, const int* y, const int* width, const int* height);
    void turned(Output& output, int32_t transform);
    void announced(Output& output, uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
    void ready(Output& output);
    void failed_copy(Output& output);

private:
    Compositor(const Wayland& w, wl_display* display);
    bool start(Clock::time_point deadline);
    bool roundtrip(Clock::time_point deadline);
    bool pump(int timeout_ms);
    void run();
    void ask_for_copies();
    void capture(Output& output);
    void follow(Output& output);
    void drop_removed_outputs();

    const Wayland& w;
    wl_display* const display;
    const int wake;  // an eventfd: a grab wants a fresh copy, or the connection is closing
    wl_proxy* registry = nullptr;
    wl_proxy* shm = nullptr;
    wl_proxy* screencopy = nullptr;
    uint32_t screencopy_version = 1;
    wl_proxy* xdg_outputs = nullptr;

    std::mutex lock;  // guards what follows, between the thread and the grabs
    std::condition_variable copied;
    std::vector<std::unique_ptr<Output>> outputs;
    Clock::time_point last_grab;
    bool failed = false;
    bool closing = false;
    std::thread talker;
};

}  // namespace screencopy
