#include "portal_screen.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "pipewire_feeds.h"
#include "portal_session.h"

namespace portal {
namespace {

std::atomic<int> begun{0};

// The monitors' frames that meet a rectangle; black wherever none lies.
class FramesShot : public screen::Shot {
public:
    FramesShot(std::vector<Placed> frames, int64_t x, int64_t y, int left, int top, int columns, int rows)
        : screen::Shot(left, top, columns, rows), frames(std::move(frames)), x(x + left), y(y + top) {}

    void convert_row(int row, uint32_t* to) const override {
        std::fill_n(to, columns, 0u);
        const int64_t at_y = y + row;
        for (const Placed& p : frames) {
            const int64_t frame_row = at_y - p.y;
            if (frame_row < 0 || frame_row >= p.frame->height) continue;
            const int64_t first = std::max<int64_t>(x, p.x), last = std::min<int64_t>(x + columns, int64_t{p.x} + p.frame->width);
            if (first >= last) continue;
            std::memcpy(to + (first - x), p.frame->pixels.data() + frame_row * p.frame->width + (first - p.x),
                        static_cast<size_t>(last - first) * 4);
        }
    }

private:
    const std::vector<Placed> frames;
    const int64_t x, y;  // the desktop position of the shot's corner
};

class Screen : public screen::Source {
public:
    Screen() : arrived(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    // False while this process must not open a session (see portal_screen.h).
    bool usable() {
        bool opening = false;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (state == State::streaming && feeds->broken()) fail(false);
            if (state == State::idle || (state == State::failed && GetTickCount() - failed_at >= retry_after_ms)) {
                begin();
                opening = true;
            }
        }
        if (opening) WaitForSingleObject(arrived, first_frame_ms);
        std::lock_guard<std::mutex> hold(lock);
        return state == State::starting || state == State::streaming;
    }

    bool readable() const override { return true; }

    std::unique_ptr<screen::Shot> shoot(int x, int y, int width, int height) override {
        std::vector<Placed> frames;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (state == State::streaming && !feeds->broken()) frames = feeds->latest();
        }
        // The part of the rectangle that the monitors' frames cover.
        int64_t left = width, top = height, right = 0, bottom = 0;
        for (const Placed& p : frames) {
            left = std::min(left, std::max<int64_t>(0, int64_t{p.x} - x));
            top = std::min(top, std::max<int64_t>(0, int64_t{p.y} - y));
            right = std::max(right, std::min<int64_t>(width, int64_t{p.x} + p.frame->width - x));
            bottom = std::max(bottom, std::min<int64_t>(height, int64_t{p.y} + p.frame->height - y));
        }
        if (left >= right || top >= bottom) return std::make_unique<FramesShot>(std::vector<Placed>{}, x, y, 0, 0, 0, 0);
        return std::make_unique<FramesShot>(std::move(frames), x, y, static_cast<int>(left), static_cast<int>(top),
                                            static_cast<int>(right - left), static_cast<int>(bottom - top));
    }

private:
    enum class State { idle, starting, streaming, failed, declined };

    // With the lock held: drops what the last session left and opens the next on a thread of its own.
    void begin() {
        if (worker.joinable()) worker.join();  // it has ended: the state is no longer `starting`
        feeds = nullptr;
        session = nullptr;
        ResetEvent(arrived);
        state = State::starting;
        ++begun;
        worker = std::thread([this] { open(); });
    }

    void open() {
        Outcome outcome;
        std::unique_ptr<Session> opened = Session::open(outcome, answer_ms, user_ms);
        std::unique_ptr<Feeds> connected =
            opened ? Feeds::connect(opened->take_pipewire_fd(), opened->monitors(), arrived) : nullptr;
        std::lock_guard<std::mutex> hold(lock);
        if (!connected) {
            fail(outcome == Outcome::declined);
            return;
        }
        session = std::move(opened);
        feeds = std::move(connected);
        state = State::streaming;
    }

    void fail(bool declined) {
        state = declined ? State::declined : State::failed;
        failed_at = GetTickCount();
        SetEvent(arrived);
    }

    const HANDLE arrived;  // the first frame came, or the session failed
    std::mutex lock;       // guards what follows
    State state = State::idle;
    DWORD failed_at = 0;
    std::thread worker;
    std::unique_ptr<Session> session;
    std::unique_ptr<Feeds> feeds;
};

}  // namespace

std::shared_ptr<screen::Source> current_screen() {
    // Never destroyed: at exit a grab may still be running on another thread, and the session
    // ends with the process anyway.
    static auto* screen = new std::shared_ptr<Screen>(std::make_shared<Screen>());
    return (*screen)->usable() ? *screen : nullptr;
}

int sessions_begun() { return begun; }

}  // namespace portal
