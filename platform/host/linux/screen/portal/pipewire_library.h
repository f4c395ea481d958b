// libpipewire-0.3, opened with dlopen on first use rather than linked, so the backend loads on
// a machine without it; there the desktop portal's screen cannot be received.
#pragma once

#include <pipewire/pipewire.h>

namespace portal {

struct PipeWire {
    decltype(&pw_init) init;
    decltype(&pw_thread_loop_new) thread_loop_new;
    decltype(&pw_thread_loop_get_loop) thread_loop_get_loop;
    decltype(&pw_thread_loop_start) thread_loop_start;
    decltype(&pw_thread_loop_stop) thread_loop_stop;
    decltype(&pw_thread_loop_destroy) thread_loop_destroy;
    decltype(&pw_thread_loop_lock) thread_loop_lock;
    decltype(&pw_thread_loop_unlock) thread_loop_unlock;
    decltype(&pw_context_new) context_new;
    decltype(&pw_context_destroy) context_destroy;
    decltype(&pw_context_connect_fd) context_connect_fd;
    decltype(&pw_core_disconnect) core_disconnect;
    decltype(&pw_properties_new) properties_new;
    decltype(&pw_stream_new) stream_new;
    decltype(&pw_stream_destroy) stream_destroy;
    decltype(&pw_stream_add_listener) stream_add_listener;
    decltype(&pw_stream_connect) stream_connect;
    decltype(&pw_stream_update_params) stream_update_params;
    decltype(&pw_stream_dequeue_buffer) stream_dequeue_buffer;
    decltype(&pw_stream_queue_buffer) stream_queue_buffer;
};

// The table, initialised, or null when libpipewire-0.3 cannot be loaded. Loaded once, kept for
// the process.
const PipeWire* pipewire();

}  // namespace portal
