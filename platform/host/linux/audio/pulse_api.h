// libpulse, reached through dlopen at first use: a machine without it still loads the libraries,
// and then simply has no recording device.
#pragma once

#include <pulse/pulseaudio.h>

#define PULSE_FUNCTIONS(X)                                                                              \
    X(threaded_mainloop_new) X(threaded_mainloop_free) X(threaded_mainloop_start) X(threaded_mainloop_stop) \
    X(threaded_mainloop_lock) X(threaded_mainloop_unlock) X(threaded_mainloop_wait)                      \
    X(threaded_mainloop_signal) X(threaded_mainloop_get_api)                                             \
    X(context_new) X(context_unref) X(context_connect) X(context_disconnect) X(context_get_state)        \
    X(context_set_state_callback) X(context_rttime_new) X(rtclock_now)                                   \
    X(stream_new) X(stream_unref) X(stream_connect_record) X(stream_disconnect) X(stream_get_state)      \
    X(stream_set_state_callback) X(stream_set_read_callback) X(stream_peek) X(stream_drop)               \
    X(stream_cork) X(stream_set_buffer_attr) X(operation_unref)                                          \
    X(sample_spec_valid) X(channel_map_init_extend)

namespace pulse {

struct Api {
#define PULSE_MEMBER(name) decltype(&pa_##name) name;
    PULSE_FUNCTIONS(PULSE_MEMBER)
#undef PULSE_MEMBER
};

// The library's functions, or null when libpulse.so.0 is missing or lacks one of them.
const Api* api();

}  // namespace pulse
