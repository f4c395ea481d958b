#include "pulse_connection.h"

#include <mutex>

namespace pulse {

namespace {

// The connection new devices get, and the lock over it and every connection's holder count.
std::mutex sharing;
Connection* current = nullptr;

}  // namespace

Connection::Deadline::Deadline(Connection& connection, pa_usec_t after_us)
    : connection_(connection),
      event_(connection.pa.context_rttime_new(connection.context_, connection.pa.rtclock_now() + after_us, on_time,
                                              this)) {}

Connection::Deadline::~Deadline() {
    if (event_) connection_.pa.threaded_mainloop_get_api(connection_.loop_)->time_free(event_);
}

void Connection::Deadline::on_time(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto& deadline = *static_cast<Deadline*>(userdata);
    deadline.passed_ = true;
    deadline.connection_.wake();
}

void Connection::on_state(pa_context*, void* userdata) { static_cast<Connection*>(userdata)->wake(); }

bool Connection::connect(pa_usec_t deadline_us) {
    loop_ = pa.threaded_mainloop_new();
    if (!loop_) return false;
    context_ = pa.context_new(pa.threaded_mainloop_get_api(loop_), "waveIn");
    if (!context_) return false;
    pa.context_set_state_callback(context_, on_state, this);
    if (pa.threaded_mainloop_start(loop_) < 0) return false;
    lock();
    bool ready = pa.context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
                 wait(deadline_us, [this]() -> std::optional<bool> {
                     if (pa.context_get_state(context_) == PA_CONTEXT_READY) return true;
                     return std::nullopt;
                 });
    unlock();
    return ready;
}

// Nothing here waits for the server: a server that stopped answering holds up no close.
void Connection::close() {
    if (!loop_) return;
    if (context_) {
        lock();
        pa.context_set_state_callback(context_, nullptr, nullptr);
        pa.context_disconnect(context_);
        pa.context_unref(context_);
        unlock();
    }
    pa.threaded_mainloop_stop(loop_);
    pa.threaded_mainloop_free(loop_);
}

bool Connection::failed() {
    lock();
    bool good = PA_CONTEXT_IS_GOOD(pa.context_get_state(context_));
    unlock();
    return !good;
}

Connection* Connection::acquire(pa_usec_t deadline_us) {
    const Api* api = pulse::api();
    if (!api) return nullptr;
    std::lock_guard<std::mutex> hold(sharing);
    // A failed connection stays with the devices still on it until they close.
    if (current && current->failed()) current = nullptr;
    if (!current) {
        auto* fresh = new Connection(*api);
        if (!fresh->connect(deadline_us)) {
            fresh->close();
            delete fresh;
            return nullptr;
        }
        current = fresh;
    }
    ++current->holders_;
    return current;
}

void Connection::release() {
    {
        std::lock_guard<std::mutex> hold(sharing);
        if (--holders_ > 0) return;
        if (current == this) current = nullptr;
    }
    close();
    delete this;
}

}  // namespace pulse
