// The two extension protocols screencopy needs, which libwayland-client does not carry: wlroots'
// wlr-screencopy-unstable-v1 (copying an output's picture into our buffer) and
// xdg-output-unstable-v1 (each output's place and size in the compositor's logical pixels).
// Their interfaces are written here from the protocols' XML; the core interfaces they name come
// from the library at run time. We bind screencopy at version 2 at most (copy_with_damage) and
// xdg-output at version 1.
#pragma once

#include <cstdint>

#include "wayland_library.h"

namespace screencopy {

struct Protocols {
    wl_interface screencopy_manager, screencopy_frame, xdg_output_manager, xdg_output;
};

// Made once, from the library's core interfaces.
const Protocols& protocols(const Wayland& w);

// Request opcodes.
enum : uint32_t { manager_capture_output = 0, manager_destroy = 2 };
enum : uint32_t { frame_copy = 0, frame_destroy = 1, frame_copy_with_damage = 2 };
enum : uint32_t { xdg_manager_destroy = 0, xdg_manager_get_xdg_output = 1 };
enum : uint32_t { xdg_output_destroy = 0 };

// The core requests used here.
enum : uint32_t { display_sync = 0, display_get_registry = 1, registry_bind = 0 };
enum : uint32_t { shm_create_pool = 0, shm_pool_create_buffer = 0, shm_pool_destroy = 1, buffer_destroy = 0 };

// zwlr_screencopy_frame_v1.flags: the rows come bottom first.
const uint32_t frame_y_invert = 1;

// Events at the versions we bind, in the order the protocols give them.
struct FrameListener {
    void (*buffer)(void* data, wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
    void (*flags)(void* data, wl_proxy* frame, uint32_t flags);
    void (*ready)(void* data, wl_proxy* frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec);
    void (*failed)(void* data, wl_proxy* frame);
    void (*damage)(void* data, wl_proxy* frame, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
};
struct XdgOutputListener {
    void (*logical_position)(void* data, wl_proxy* xdg_output, int32_t x, int32_t y);
    void (*logical_size)(void* data, wl_proxy* xdg_output, int32_t width, int32_t height);
    void (*done)(void* data, wl_proxy* xdg_output);
};
struct RegistryListener {
    void (*global)(void* data, wl_proxy* registry, uint32_t name, const char* interface, uint32_t version);
    void (*global_remove)(void* data, wl_proxy* registry, uint32_t name);
};
struct CallbackListener {
    void (*done)(void* data, wl_proxy* callback, uint32_t serial);
};

}  // namespace screencopy
