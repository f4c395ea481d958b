#include "wayland_library.h"

#include "runtime/shared_library.h"

namespace screencopy {
namespace {

using host::slot;

Wayland load() {
    Wayland w{};
    host::bind("libwayland-client.so.0", slot(w.display_connect, "wl_display_connect"),
               slot(w.display_disconnect, "wl_display_disconnect"), slot(w.display_get_fd, "wl_display_get_fd"),
               slot(w.display_flush, "wl_display_flush"), slot(w.display_prepare_read, "wl_display_prepare_read"),
               slot(w.display_read_events, "wl_display_read_events"),
               slot(w.display_cancel_read, "wl_display_cancel_read"),
               slot(w.display_dispatch_pending, "wl_display_dispatch_pending"),
               slot(w.proxy_marshal, "wl_proxy_marshal"),
               slot(w.proxy_marshal_constructor, "wl_proxy_marshal_constructor"),
               slot(w.proxy_marshal_constructor_versioned, "wl_proxy_marshal_constructor_versioned"),
               slot(w.proxy_add_listener, "wl_proxy_add_listener"), slot(w.proxy_destroy, "wl_proxy_destroy"),
               slot(w.registry_interface, "wl_registry_interface"),
               slot(w.callback_interface, "wl_callback_interface"),
               slot(w.output_interface, "wl_output_interface"), slot(w.shm_interface, "wl_shm_interface"),
               slot(w.shm_pool_interface, "wl_shm_pool_interface"),
               slot(w.buffer_interface, "wl_buffer_interface"));
    return w;
}

}  // namespace

const Wayland* wayland() {
    static const Wayland loaded = load();
    return loaded.display_connect ? &loaded : nullptr;
}

}  // namespace screencopy
