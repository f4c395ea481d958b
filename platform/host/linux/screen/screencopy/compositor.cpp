#include "compositor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "protocols.h"
#include "screen/monitor_layout.h"
#include "shm_buffer.h"

namespace screencopy {

struct Compositor::Output {
    Output(Compositor& owner, uint32_t name) : owner(owner), name(name) {}
    Compositor& owner;
    const uint32_t name;
    wl_proxy* output = nullptr;
    wl_proxy* xdg = nullptr;
    // The thread's alone: the copy under way and what the compositor said of it.
    bool removed = false;
    wl_proxy* frame = nullptr;
    bool with_damage = false;
    bool asked = false;  // we named the buffer to copy into
    uint32_t flags = 0;
    std::unique_ptr<ShmBuffer> buffer;     // kept for the next copy of the same shape
    std::shared_ptr<screen::Frame> spare;  // the picture before, reused once no grab holds it
    Clock::time_point failed_at;
    // Under the lock.
    int x = 0, y = 0, width = 0, height = 0;  // logical, as xdg-output reports them
    int transform = 0;                         // wl_output's, from its buffer to what it shows
    std::shared_ptr<const screen::Frame> picture;
    bool current = false;  // the picture is what the output shows: a copy is under way or just came
    bool gave_up = false;  // the last copy failed
};

namespace {

std::atomic<int> received{0};

// A copy that failed (an output being disabled, say) is asked for again after this long.
const auto retry_copy_after = std::chrono::milliseconds(1000);
// How long the thread sleeps at most between looks at the outputs.
const int look_again_ms = 250;

using Output = Compositor::Output;

wl_proxy* as_proxy(wl_display* display) { return reinterpret_cast<wl_proxy*>(display); }

template <typename Listener>
void listen(const Wayland& w, wl_proxy* proxy, const Listener& listener, void* data) {
    w.proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

Output& of(void* data) { return *static_cast<Output*>(data); }

const XdgOutputListener xdg_output_listener = {
    [](void* data, wl_proxy*, int32_t x, int32_t y) { of(data).owner.placed(of(data), &x, &y, nullptr, nullptr); },
    [](void* data, wl_proxy*, int32_t width, int32_t height) {
        of(data).owner.placed(of(data), nullptr, nullptr, &width, &height);
    },
    [](void*, wl_proxy*) {}, [](void*, wl_proxy*, const char*) {}, [](void*, wl_proxy*, const char*) {}};

const OutputListener output_listener = {
    [](void* data, wl_proxy*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*, int32_t transform) {
        of(data).owner.turned(of(data), transform);
    },
    [](void*, wl_proxy*, uint32_t, int32_t, int32_t, int32_t) {}, [](void*, wl_proxy*) {}, [](void*, wl_proxy*, int32_t) {},
    [](void*, wl_proxy*, const char*) {}, [](void*, wl_proxy*, const char*) {}};

const FrameListener frame_listener = {
    [](void* data, wl_proxy*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
        of(data).owner.announced(of(data), format, width, height, stride);
    },
    [](void* data, wl_proxy*, uint32_t flags) { of(data).flags = flags; },
    [](void* data, wl_proxy*, uint32_t, uint32_t, uint32_t) { of(data).owner.ready(of(data)); },
    [](void* data, wl_proxy*) { of(data).owner.failed_copy(of(data)); },
    [](void*, wl_proxy*, uint32_t, uint32_t, uint32_t, uint32_t) {}, [](void*, wl_proxy*, uint32_t, uint32_t, uint32_t) {},
    [](void*, wl_proxy*) {}};

const CallbackListener callback_listener = {
    [](void* data, wl_proxy*, uint32_t) { *static_cast<bool*>(data) = true; }};

const RegistryListener registry_listener = {&Compositor::global, &Compositor::global_remove};

}  // namespace

std::unique_ptr<Compositor> Compositor::connect(Clock::time_point deadline) {
    const Wayland* w = wayland();
    wl_display* display = w ? w->display_connect(nullptr) : nullptr;
    if (!display) return nullptr;
    std::unique_ptr<Compositor> compositor(new Compositor(*w, display));
    if (compositor->wake < 0 || !compositor->start(deadline)) return nullptr;
    try {
        compositor->talker = std::thread([c = compositor.get()] { c->run(); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return compositor;
}

Compositor::Compositor(const Wayland& w, wl_display* display)
    : w(w), display(display), wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), last_grab(Clock::now()) {}

Compositor::~Compositor() {
    {
        std::lock_guard<std::mutex> hold(lock);
        closing = true;
    }
    if (talker.joinable()) {
        const uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
        talker.join();
    }
    for (auto& o : outputs) o->removed = true;
    drop_removed_outputs();
    if (screencopy) w.proxy_marshal(screencopy, manager_destroy);
    if (xdg_outputs) w.proxy_marshal(xdg_outputs, xdg_manager_destroy);
    for (wl_proxy* proxy : {screencopy, xdg_outputs, shm, registry})
        if (proxy) w.proxy_destroy(proxy);
    w.display_disconnect(display);
    if (wake >= 0) close(wake);
}

// Binds the globals, then learns each output's place and size.
bool Compositor::start(Clock::time_point deadline) {
    registry = w.proxy_marshal_constructor(as_proxy(display), display_get_registry, w.registry_interface, nullptr);
    if (!registry) return false;
    listen(w, registry, registry_listener, this);
    return roundtrip(deadline) && shm && screencopy && xdg_outputs && roundtrip(deadline);
}

void Compositor::global(void* data, wl_proxy* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* c = static_cast<Compositor*>(data);
    const Protocols& p = protocols(c->w);
    auto bind = [&](const wl_interface* to, uint32_t at) {
        return c->w.proxy_marshal_constructor_versioned(registry, registry_bind, to, at, name, to->name, at, nullptr);
    };
    if (!std::strcmp(interface, "wl_shm") && !c->shm) {
        c->shm = bind(c->w.shm_interface, 1);
    } else if (!std::strcmp(interface, p.screencopy_manager.name) && !c->screencopy) {
        c->screencopy_version = std::min<uint32_t>(version, 2);
        c->screencopy = bind(&p.screencopy_manager, c->screencopy_version);
    } else if (!std::strcmp(interface, p.xdg_output_manager.name) && !c->xdg_outputs) {
        c->xdg_outputs = bind(&p.xdg_output_manager, 1);
        for (auto& o : c->outputs) c->follow(*o);
    } else if (!std::strcmp(interface, "wl_output")) {
        auto o = std::make_unique<Output>(*c, name);
        o->output = bind(c->w.output_interface, 1);
        if (!o->output) return;
        listen(c->w, o->output, output_listener, o.get());
        c->follow(*o);
        std::lock_guard<std::mutex> hold(c->lock);
        c->outputs.push_back(std::move(o));
    }
}

// Outputs are dropped between dispatches, since the events being dispatched may refer to them.
void Compositor::global_remove(void* data, wl_proxy*, uint32_t name) {
    for (auto& o : static_cast<Compositor*>(data)->outputs)
        if (o->name == name) o->removed = true;
}

void Compositor::follow(Output& o) {
    if (!xdg_outputs || o.xdg) return;
    o.xdg = w.proxy_marshal_constructor(xdg_outputs, xdg_manager_get_xdg_output, &protocols(w).xdg_output, nullptr,
                                        o.output);
    if (o.xdg) listen(w, o.xdg, xdg_output_listener, &o);
}

void Compositor::placed(Output& o, const int* x, const int* y, const int* width, const int* height) {
    std::lock_guard<std::mutex> hold(lock);
    if (x) o.x = *x, o.y = *y;
    if (width) o.width = *width, o.height = *height;
}

void Compositor::turned(Output& o, int32_t transform) {
    std::lock_guard<std::mutex> hold(lock);
    o.transform = transform >= 0 && transform <= 7 ? transform : 0;
}

void Compositor::drop_removed_outputs() {
    std::lock_guard<std::mutex> hold(lock);
    for (auto& o : outputs) {
        if (!o->removed) continue;
        if (o->frame) {
            w.proxy_marshal(o->frame, frame_destroy);
            w.proxy_destroy(o->frame);
        }
        o->buffer = nullptr;
        if (o->xdg) {
            w.proxy_marshal(o->xdg, xdg_output_destroy);
            w.proxy_destroy(o->xdg);
        }
        w.proxy_destroy(o->output);  // wl_output has no release before version 3
    }
    outputs.erase(std::remove_if(outputs.begin(), outputs.end(), [](const auto& o) { return o->removed; }),
                  outputs.end());
}

// With the lock held. The first copy, and the first after an idle spell, is taken at once; the
// others wait until the output changes.
void Compositor::capture(Output& o) {
    o.frame = w.proxy_marshal_constructor(screencopy, manager_capture_output, &protocols(w).screencopy_frame, nullptr,
                                          0, o.output);
    if (!o.frame) {
        o.gave_up = true;
        o.failed_at = Clock::now();
        return;
    }
    o.with_damage = screencopy_version >= 2 && o.current;
    o.asked = false;
    o.flags = 0;
    listen(w, o.frame, frame_listener, &o);
}

// A second announcement, or one after we asked, would make us copy twice into one frame, which
// the protocol forbids: such a copy fails.
void Compositor::announced(Output& o, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
    if (!o.frame) return;
    if (o.asked) {
        failed_copy(o);
        return;
    }
    const Shape shape{format, width, height, stride};
    if (!o.buffer || !(o.buffer->shape == shape)) o.buffer = ShmBuffer::create(w, shm, shape);
    if (!o.buffer) {
        failed_copy(o);
        return;
    }
    w.proxy_marshal(o.frame, o.with_damage ? frame_copy_with_damage : frame_copy, o.buffer->buffer);
    o.asked = true;
}

// Ready for a copy we did not ask for is no picture.
void Compositor::ready(Output& o) {
    if (!o.frame) return;
    if (!o.asked) {
        failed_copy(o);
        return;
    }
    std::shared_ptr<screen::Frame> picture =
        o.spare && o.spare.use_count() == 1 ? std::move(o.spare) : std::make_shared<screen::Frame>();
    // The last grab that held the spare is done reading it before we write it (use_count() is a
    // relaxed load).
    std::atomic_thread_fence(std::memory_order_acquire);
    int transform;
    {
        std::lock_guard<std::mutex> hold(lock);
        transform = o.transform;
    }
    o.buffer->convert(o.flags & frame_y_invert, transform, *picture);
    ++received;
    w.proxy_marshal(o.frame, frame_destroy);
    w.proxy_destroy(o.frame);
    o.frame = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock);
        o.spare = std::const_pointer_cast<screen::Frame>(std::move(o.picture));
        o.picture = std::move(picture);
        o.current = true;
        o.gave_up = false;
    }
    copied.notify_all();
}

void Compositor::failed_copy(Output& o) {
    if (!o.frame) return;
    w.proxy_marshal(o.frame, frame_destroy);
    w.proxy_destroy(o.frame);
    o.frame = nullptr;
    o.failed_at = Clock::now();
    {
        std::lock_guard<std::mutex> hold(lock);
        o.current = false;
        o.gave_up = true;
    }
    copied.notify_all();
}

// On the thread: asks for the next copy of each output while grabs come.
void Compositor::ask_for_copies() {
    drop_removed_outputs();
    std::lock_guard<std::mutex> hold(lock);
    const Clock::time_point now = Clock::now();
    const bool wanted = now - last_grab < std::chrono::milliseconds(idle_after_ms);
    for (auto& o : outputs) {
        if (o->frame || o->width <= 0 || o->height <= 0) continue;
        if (!wanted) o->current = false;
        else if (!o->gave_up || now - o->failed_at >= retry_copy_after) capture(*o);
    }
}

void Compositor::run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (closing) return;
        }
        ask_for_copies();
        if (!pump(look_again_ms)) break;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        failed = true;
    }
    copied.notify_all();
}

// One round: sends what is queued, waits up to timeout_ms for the compositor or a wake-up, and
// dispatches what came. False when the connection failed.
bool Compositor::pump(int timeout_ms) {
    while (w.display_prepare_read(display) != 0)
        if (w.display_dispatch_pending(display) < 0) return false;
    const bool flushed = w.display_flush(display) >= 0;
    if (!flushed && errno != EAGAIN) {
        w.display_cancel_read(display);
        return false;
    }
    pollfd ready[2] = {{w.display_get_fd(display), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0},
                       {wake, POLLIN, 0}};
    const int count = poll(ready, wake >= 0 ? 2 : 1, timeout_ms);
    if (count > 0 && (ready[0].revents & POLLIN)) {
        if (w.display_read_events(display) < 0) return false;
    } else {
        w.display_cancel_read(display);
        if (count < 0 && errno != EINTR) return false;
        if (count > 0 && (ready[0].revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
    }
    uint64_t woken;
    if (count > 0 && (ready[1].revents & POLLIN)) (void)!read(wake, &woken, sizeof woken);
    return w.display_dispatch_pending(display) >= 0;
}

bool Compositor::roundtrip(Clock::time_point deadline) {
    bool done = false;
    wl_proxy* callback = w.proxy_marshal_constructor(as_proxy(display), display_sync, w.callback_interface, nullptr);
    if (!callback) return false;
    listen(w, callback, callback_listener, &done);
    bool answered = true;
    while (answered && !done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        answered = left > 0 && pump(static_cast<int>(left));
    }
    w.proxy_destroy(callback);
    return answered;
}

std::vector<screen::Placed> Compositor::latest(Clock::time_point deadline) {
    std::unique_lock<std::mutex> hold(lock);
    last_grab = Clock::now();
    auto settled = [this] {
        return failed || std::all_of(outputs.begin(), outputs.end(), [](const auto& o) {
                   return o->width <= 0 || o->height <= 0 || o->current || o->gave_up;
               });
    };
    if (!settled()) {
        const uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
        copied.wait_until(hold, deadline, settled);
    }
    if (failed) return {};
    std::vector<screen::MonitorSize> sizes;
    std::vector<std::shared_ptr<const screen::Frame>> pictures;
    for (const auto& o : outputs) {
        if (!o->current || !o->picture || o->width <= 0 || o->height <= 0) continue;
        sizes.push_back({o->x, o->y, o->width, o->height, o->picture->width, o->picture->height});
        pictures.push_back(o->picture);
    }
    hold.unlock();
    const std::vector<screen::Position> at = screen::physical_layout(sizes);
    std::vector<screen::Placed> placed;
    for (size_t i = 0; i < at.size(); ++i) placed.push_back({at[i].x, at[i].y, pictures[i]});
    return placed;
}

int Compositor::copies() { return received; }

bool Compositor::broken() {
    std::lock_guard<std::mutex> hold(lock);
    return failed;
}

}  // namespace screencopy
