// LD_PRELOAD for xdg-desktop-portal-wlr 0.7.0, which waits for a DMA-BUF format from the
// compositor's screencopy before it starts a cast, although a software renderer (headless sway
// with pixman) offers only shared memory. This announces the shared-memory format as DMA-BUF
// too, right after the compositor names it; the cast still negotiates shared memory.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
const char* wl_proxy_get_class(struct wl_proxy* proxy);
const void* wl_proxy_get_listener(struct wl_proxy* proxy);

typedef void (*buffer_event)(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height,
                             uint32_t stride);
typedef void (*dmabuf_event)(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height);

// zwlr_screencopy_frame_v1 events in order: buffer, flags, ready, failed, damage, linux_dmabuf,
// buffer_done; then the listener the portal gave.
enum { buffer_index = 0, linux_dmabuf_index = 5, frame_events = 7 };
struct wrapped {
    void (*events[frame_events])(void);
    void (*const* original)(void);
};

static uint32_t drm_fourcc(uint32_t shm_format) {
    if (shm_format == 0) return 0x34325241;  // AR24
    if (shm_format == 1) return 0x34325258;  // XR24
    return shm_format;                       // the other wl_shm codes are DRM fourccs already
}

static void buffer_then_dmabuf(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height,
                               uint32_t stride) {
    const struct wrapped* w = wl_proxy_get_listener(frame);
    ((buffer_event)w->original[buffer_index])(data, frame, format, width, height, stride);
    if (w->original[linux_dmabuf_index])
        ((dmabuf_event)w->original[linux_dmabuf_index])(data, frame, drm_fourcc(format), width, height);
}

int wl_proxy_add_listener(struct wl_proxy* proxy, void (**implementation)(void), void* data) {
    static int (*real)(struct wl_proxy*, void (**)(void), void*);
    if (!real) real = (int (*)(struct wl_proxy*, void (**)(void), void*))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
    if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") != 0) return real(proxy, implementation, data);
    // The portal hands every frame the same listener: wrap it once.
    static struct wrapped w;
    if (w.original != (void (*const*)(void))implementation) {
        memcpy(w.events, implementation, sizeof w.events);
        w.events[buffer_index] = (void (*)(void))buffer_then_dmabuf;
        w.original = (void (*const*)(void))implementation;
    }
    return real(proxy, w.events, data);
}
