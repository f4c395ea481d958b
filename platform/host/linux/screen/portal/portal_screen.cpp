#include "portal_screen.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "screen/monitor_frames.h"
#include "pipewire_feeds.h"
#include "portal_session.h"

namespace portal {
namespace {

std::atomic<int> begun{0};

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
        return screen::shoot_frames(std::move(frames), x, y, width, height);
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
        try {
            worker = std::thread([this] { open(); });
        } catch (const std::system_error&) {  // no thread to be had: the session fails like any other
            fail(false);
        }
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
