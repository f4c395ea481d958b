// libwayland-client, opened with dlopen on first use rather than linked, so the backend loads on
// a machine without it; there the compositor's screencopy cannot be used.
#pragma once

#include <wayland-client-core.h>

namespace screencopy {

struct Wayland {
    decltype(&wl_display_connect) display_connect;
    decltype(&wl_display_disconnect) display_disconnect;
    decltype(&wl_display_get_fd) display_get_fd;
    decltype(&wl_display_flush) display_flush;
    decltype(&wl_display_prepare_read) display_prepare_read;
    decltype(&wl_display_read_events) display_read_events;
    decltype(&wl_display_cancel_read) display_cancel_read;
    decltype(&wl_display_dispatch_pending) display_dispatch_pending;
    decltype(&wl_proxy_marshal) proxy_marshal;
    decltype(&wl_proxy_marshal_constructor) proxy_marshal_constructor;
    decltype(&wl_proxy_marshal_constructor_versioned) proxy_marshal_constructor_versioned;
    decltype(&wl_proxy_add_listener) proxy_add_listener;
    decltype(&wl_proxy_destroy) proxy_destroy;
    // The core interfaces, which the library exports as data.
    const wl_interface* registry_interface;
    const wl_interface* callback_interface;
    const wl_interface* output_interface;
    const wl_interface* shm_interface;
    const wl_interface* shm_pool_interface;
    const wl_interface* buffer_interface;
};

// The table, or null when libwayland-client cannot be loaded. Loaded once, kept for the process.
const Wayland* wayland();

}  // namespace screencopy
