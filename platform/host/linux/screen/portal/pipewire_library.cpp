#include "pipewire_library.h"

#include "runtime/shared_library.h"

namespace portal {
namespace {

using host::slot;

PipeWire load() {
    PipeWire p{};
    bool loaded = host::bind("libpipewire-0.3.so.0", slot(p.init, "pw_init"),
        slot(p.thread_loop_new, "pw_thread_loop_new"), slot(p.thread_loop_get_loop, "pw_thread_loop_get_loop"),
        slot(p.thread_loop_start, "pw_thread_loop_start"),
        slot(p.thread_loop_stop, "pw_thread_loop_stop"), slot(p.thread_loop_destroy, "pw_thread_loop_destroy"), slot(p.thread_loop_lock, "pw_thread_loop_lock"),
        slot(p.thread_loop_unlock, "pw_thread_loop_unlock"), slot(p.context_new, "pw_context_new"),
        slot(p.context_destroy, "pw_context_destroy"),
        slot(p.context_connect_fd, "pw_context_connect_fd"), slot(p.core_disconnect, "pw_core_disconnect"), slot(p.properties_new, "pw_properties_new"),
        slot(p.stream_new, "pw_stream_new"), slot(p.stream_destroy, "pw_stream_destroy"),
        slot(p.stream_add_listener, "pw_stream_add_listener"),
        slot(p.stream_connect, "pw_stream_connect"), slot(p.stream_update_params, "pw_stream_update_params"),
        slot(p.stream_dequeue_buffer, "pw_stream_dequeue_buffer"),
        slot(p.stream_queue_buffer, "pw_stream_queue_buffer"));
    if (loaded) p.init(nullptr, nullptr);
    return p;
}

}  // namespace

const PipeWire* pipewire() {
    static const PipeWire loaded = load();
    return loaded.init ? &loaded : nullptr;
}

}  // namespace portal
