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

// Every event of each interface, in the order the protocols give them: libwayland dispatches by
// the interface's event count, whatever version was bound, so a listener must have them all.
struct FrameListener {
    void (*buffer)(void* data, wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
    void (*flags)(void* data, wl_proxy* frame, uint32_t flags);
    void (*ready)(void* data, wl_proxy* frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec);
    void (*failed)(void* data, wl_proxy* frame);
    void (*damage)(void* data, wl_proxy* frame, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
    // Since version 3, which we never bind; here because libwayland calls by the interface's
    // event count, whatever version was bound.
    void (*linux_dmabuf)(void* data, wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height);
    void (*buffer_done)(void* data, wl_proxy* frame);
};
struct XdgOutputListener {
    void (*logical_position)(void* data, wl_proxy* xdg_output, int32_t x, int32_t y);
    void (*logical_size)(void* data, wl_proxy* xdg_output, int32_t width, int32_t height);
    void (*done)(void* data, wl_proxy* xdg_output);
    void (*name)(void* data, wl_proxy* xdg_output, const char* name);
    void (*description)(void* data, wl_proxy* xdg_output, const char* description);
};
// wl_output's events, as many as the library's interface declares (6 since version 4).
struct OutputListener {
    void (*geometry)(void* data, wl_proxy* output, int32_t x, int32_t y, int32_t physical_width,
                     int32_t physical_height, int32_t subpixel, const char* make, const char* model, int32_t transform);
    void (*mode)(void* data, wl_proxy* output, uint32_t flags, int32_t width, int32_t height, int32_t refresh);
    void (*done)(void* data, wl_proxy* output);
    void (*scale)(void* data, wl_proxy* output, int32_t factor);
    void (*name)(void* data, wl_proxy* output, const char* name);
    void (*description)(void* data, wl_proxy* output, const char* description);
};
struct RegistryListener {
    void (*global)(void* data, wl_proxy* registry, uint32_t name, const char* interface, uint32_t version);
    void (*global_remove)(void* data, wl_proxy* registry, uint32_t name);
};
struct CallbackListener {
    void (*done)(void* data, wl_proxy* callback, uint32_t serial);
};

}  // namespace screencopy
