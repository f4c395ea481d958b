// The frames of a ScreenCast session: a PipeWire connection on the portal's fd, one stream per
// monitor on a loop thread of its own. Each stream keeps the latest frame it received, already
// in the 0x00RRGGBB layout of a 32-bit DIB; frames come only when the screen changes, so a
// still screen keeps its last one.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "portal_session.h"
#include "screen/monitor_frames.h"

namespace portal {

using screen::Frame;
using screen::Placed;

class Feeds {
public:
    // Null when libpipewire is missing or the connection fails; the fd is closed either way.
    // `arrived` is set at the first frame and when the feeds break.
    static std::unique_ptr<Feeds> connect(int fd, const std::vector<Monitor>& monitors, HANDLE arrived);
    ~Feeds();
    Feeds(const Feeds&) = delete;
    Feeds& operator=(const Feeds&) = delete;

    std::vector<Placed> latest();
    // PipeWire went away, or a stream ended or stayed paused for lost_producer_ms (the
    // compositor or the portal closed it).
    bool broken() const;
    static const unsigned lost_producer_ms = 1000;

    // Called on the loop thread when PipeWire or a stream ends.
    void fail_from_loop();

    struct Stream;

private:
    Feeds() = default;

    struct Loop;
    std::unique_ptr<Loop> loop;
    std::vector<std::unique_ptr<Stream>> streams;
    std::atomic<bool> failed{false};
    HANDLE arrived = nullptr;
    std::mutex frames_lock;  // guards every stream's latest frame
};

}  // namespace portal
