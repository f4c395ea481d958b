#include "screencopy_screen.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "compositor.h"

namespace screencopy {
namespace {

Clock::time_point answer_deadline() { return Clock::now() + std::chrono::milliseconds(compositor_answer_ms); }

class Screen : public screen::Source {
public:
    // Whether the compositor offers screencopy: learnt from the first connection that lists it,
    // and kept, so that a compositor that restarts gives black until it answers again rather
    // than a portal session and its dialog.
    bool offered() {
        if (known_offered) return true;
        std::lock_guard<std::mutex> hold(lock);
        connect_when_due();
        return known_offered;
    }

    bool readable() const override { return true; }

    std::unique_ptr<screen::Shot> shoot(int x, int y, int width, int height) override {
        std::shared_ptr<Compositor> now;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (compositor && compositor->broken()) {
                compositor = nullptr;  // a grab still holding it keeps it until that grab ends
                failed_at = GetTickCount();
            }
            if (!compositor) connect_when_due();
            now = compositor;
        }
        if (!now) return nullptr;
        std::vector<screen::Placed> frames = now->latest(answer_deadline());
        if (frames.empty() && now->broken()) return nullptr;
        return screen::shoot_frames(std::move(frames), x, y, width, height);
    }

private:
    // With the lock held: connects, at most every retry_after_ms.
    void connect_when_due() {
        if (tried && GetTickCount() - failed_at < retry_after_ms) return;
        tried = true;
        compositor = Compositor::connect(answer_deadline());
        if (compositor) known_offered = true;
        else failed_at = GetTickCount();
    }

    std::mutex lock;  // guards what follows
    std::shared_ptr<Compositor> compositor;
    bool tried = false;
    DWORD failed_at = 0;
    std::atomic<bool> known_offered{false};
};

}  // namespace

std::shared_ptr<screen::Source> current_screen() {
    // Never destroyed: at exit a grab may still be running on another thread.
    static auto* screen = new std::shared_ptr<Screen>(std::make_shared<Screen>());
    return (*screen)->offered() ? *screen : nullptr;
}

int copies_made() { return Compositor::copies(); }

}  // namespace screencopy
