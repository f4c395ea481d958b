// One connection to the sound server and one threaded main loop, shared by every device a
// process has open: the server takes only so many clients (PulseAudio refuses the 65th), a
// process may want more devices. The connection is made for the first device and closed with
// the last, so a process that records nothing holds no connection and no thread. When it fails,
// its streams fail with it, and the next device gets a fresh one.
#pragma once

#include <pulse/pulseaudio.h>

#include <optional>

#include "pulse_api.h"

namespace pulse {

class Connection {
public:
    // The process's connection, ready; null when libpulse or the server is missing, or when the
    // server does not answer within `deadline_us`. Every connection acquired is released.
    static Connection* acquire(pa_usec_t deadline_us);
    void release();

    const Api& pa;
    pa_context* context() const { return context_; }

    void lock() { pa.threaded_mainloop_lock(loop_); }
    void unlock() { pa.threaded_mainloop_unlock(loop_); }
    // Wakes every thread in wait().
    void wake() { pa.threaded_mainloop_signal(loop_, 0); }

    // Waits, with the loop locked, until `settled()` has an answer, the connection fails (false)
    // or `deadline_us` passes (false). Whatever `settled` looks at must call wake() on a change.
    template <typename Settled>
    bool wait(pa_usec_t deadline_us, Settled settled) {
        Deadline deadline(*this, deadline_us);
        for (;;) {
            if (!PA_CONTEXT_IS_GOOD(pa.context_get_state(context_))) return false;
            if (std::optional<bool> answer = settled()) return *answer;
            if (!deadline.pending()) return false;
            pa.threaded_mainloop_wait(loop_);
        }
    }

private:
    // A time event on the loop that wakes the waiters when it passes.
    class Deadline {
    public:
        Deadline(Connection& connection, pa_usec_t after_us);
        ~Deadline();
        bool pending() const { return event_ && !passed_; }

    private:
        static void on_time(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);
        Connection& connection_;
        pa_time_event* event_;
        bool passed_ = false;
    };

    explicit Connection(const Api& api) : pa(api) {}
    bool connect(pa_usec_t deadline_us);
    void close();
    bool failed();
    static void on_state(pa_context* context, void* userdata);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    int holders_ = 0;  // acquires not yet released; guarded by the process-wide lock
};

}  // namespace pulse
