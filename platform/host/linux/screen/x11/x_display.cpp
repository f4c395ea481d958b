#include "x_display.h"

#include <poll.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "screen/pixel_format.h"
#include "x_setup.h"
#include "xcb_library.h"

namespace x11 {

namespace {

std::atomic<int> open_displays{0};
std::atomic<int> attached_segments{0};
std::atomic<int> shm_reads{0};
std::atomic<int> plain_reads{0};

const uint8_t bad_match = 8;

// Segments kept attached once no shot holds them: a fresh one per read costs ten times the read
// itself (the server maps it, the pages are touched). Two serve a grab that overlaps another.
const size_t idle_segments_kept = 2;

// A screen that keeps changing size between our geometry request and the read is given up on.
const int attempts_at_a_steady_size = 3;

using Clock = std::chrono::steady_clock;
Clock::time_point answer_deadline() { return Clock::now() + std::chrono::milliseconds(server_answer_ms); }

// A lock that can be waited for until a deadline, made of a mutex and a condition variable: the
// timed mutexes would need pthread_mutex_clocklock, which glibc has only since 2.30.
class Turn {
public:
    void lock() {
        std::unique_lock<std::mutex> hold(mutex);
        freed.wait(hold, [this] { return !taken; });
        taken = true;
    }
    bool try_lock_until(Clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(mutex);
        if (!freed.wait_until(hold, deadline, [this] { return !taken; })) return false;
        taken = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> hold(mutex);
            taken = false;
        }
        freed.notify_one();
    }

private:
    std::mutex mutex;
    std::condition_variable freed;
    bool taken = false;
};

struct Segment {
    uint8_t* address = nullptr;
    size_t size = 0;
    xcb_shm_seg_t id = 0;
};

// The part of [from, from + length) that lies in [0, size), as offsets from `from`.
std::pair<int, int> on_screen(int from, int length, int size) {
    int64_t first = std::min<int64_t>(length, std::max<int64_t>(0, -int64_t{from}));
    int64_t last = std::min<int64_t>(length, int64_t{size} - from);
    return {static_cast<int>(first), static_cast<int>(std::max(first, last))};
}

}  // namespace

struct Pixels;

class Display : public screen::Source, public std::enable_shared_from_this<Display> {
public:
    Display(const Xcb& x, xcb_connection_t* connection, int screen_number, std::string name);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool broken() const;
    bool readable() const override { return root && format.supported() && !stalled; }
    std::unique_ptr<screen::Shot> shoot(int x, int y, int width, int height) override;
    // From a shot that is done with its segment, outside any grab's turn.
    void return_segment(Segment segment);

    const std::string name;
    host::PixelFormat format;

private:
    // An image request on its way: into a segment with MIT-SHM, or a plain GetImage.
    struct Request {
        unsigned int sequence;
        Segment segment;
    };

    Request send(int x, int y, int width, int height, Clock::time_point deadline);
    std::unique_ptr<Pixels> receive(const std::shared_ptr<Display>& self, Request request, int x, int y,
                                    int width, int height, Clock::time_point deadline);
    void cancel(const Request& request);
    void give_back(Segment segment);  // in a grab's turn
    Segment take_segment(size_t bytes, Clock::time_point deadline);
    Segment attach_segment(size_t bytes, Clock::time_point deadline);
    void release(const Segment& segment);
    // The reply to `sequence` (ours to free), or null: the server refused (`error`, if asked for,
    // says how), the connection broke, or no answer came before `deadline`, which stalls the display.
    void* await(unsigned int sequence, Clock::time_point deadline, xcb_generic_error_t** error = nullptr);
    // Waits until the server has answered every request sent so far; false if it did not in time.
    bool sync(Clock::time_point deadline);

    const Xcb& x;
    xcb_connection_t* const connection;
    xcb_window_t root = 0;
    std::atomic<bool> shm{false};
    // Set once the server let a deadline pass: the display is given up on, and connected afresh.
    std::atomic<bool> stalled{false};
    // One grab talks to the server at a time, so that no grab reads another's reply off the socket
    // while that one sleeps until it comes; each waits its turn until its own deadline at most.
    // Taken before `lock`, never inside it.
    Turn talking;
    std::mutex lock;                 // guards what follows
    std::vector<Segment> idle;       // attached, held by no shot
    int root_width = 0, root_height = 0;  // as the server last told
};

struct Pixels {
    std::shared_ptr<Display> display;
    Segment segment;                         // the rows are here with MIT-SHM,
    xcb_get_image_reply_t* reply = nullptr;  // or in a plain reply
    const uint8_t* rows = nullptr;
    size_t stride = 0;

    ~Pixels() {
        std::free(reply);
        if (segment.address) display->return_segment(segment);
    }
};

class Shot : public screen::Shot {
public:
    Shot(std::unique_ptr<Pixels> pixels, int left, int top, int columns, int rows)
        : screen::Shot(left, top, columns, rows), pixels(std::move(pixels)) {}

    void convert_row(int row, uint32_t* to) const override {
        pixels->display->format.convert_row(pixels->rows + static_cast<size_t>(row) * pixels->stride, columns, to);
    }

private:
    std::unique_ptr<Pixels> pixels;
};

Display::Display(const Xcb& x, xcb_connection_t* connection, int screen_number, std::string name)
    : name(std::move(name)), x(x), connection(connection) {
    ++open_displays;
    // libxcb took the setup as the server sent it: its 8-byte header and `length` words after.
    const xcb_setup_t* setup = x.get_setup(connection);
    ScreenSetup screen;
    if (!read_screen_setup(reinterpret_cast<const uint8_t*>(setup), 8 + size_t{setup->length} * 4, screen_number, screen))
        return;
    root = screen.root;
    root_width = screen.width;
    root_height = screen.height;
    format = screen.format;

    if (x.shm_id) {
        // Asked without waiting, then waited for within the bound: libxcb's own wait has none.
        x.prefetch_extension_data(connection, x.shm_id);
        if (!sync(answer_deadline())) return;
        const xcb_query_extension_reply_t* extension = x.get_extension_data(connection, x.shm_id);
        shm = extension && extension->present;
    }
}

Display::~Display() {
    for (const Segment& segment : idle) release(segment);
    x.disconnect(connection);
    --open_displays;
}

// XCB learns that the server went away only when it next talks to it; a peek at the socket
// tells at once, so a server restarted on the same display is found before a grab fails.
bool Display::broken() const {
    if (stalled || x.connection_has_error(connection)) return true;
    char byte;
    return recv(x.get_file_descriptor(connection), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

// The size is asked in the same round trip as the pixels, clipped to the size known before; in
// the rare case that the screen changed in between, the read is asked again at the new size.
std::unique_ptr<screen::Shot> Display::shoot(int x0, int y0, int width, int height) {
    if (!readable()) return nullptr;
    std::unique_lock<Turn> turn(talking, answer_deadline());
    if (!turn.owns_lock()) return nullptr;
    // The server's time to answer starts once this grab may talk to it: a wait behind other
    // grabs is no sign of a stalled server.
    const Clock::time_point deadline = answer_deadline();
    const std::shared_ptr<Display> self = shared_from_this();
    int known_width, known_height;
    {
        std::lock_guard<std::mutex> hold(lock);
        known_width = root_width;
        known_height = root_height;
    }
    for (int attempt = 0; attempt < attempts_at_a_steady_size; ++attempt) {
        auto [left, right] = on_screen(x0, width, known_width);
        auto [top, bottom] = on_screen(y0, height, known_height);
        const int columns = right - left, rows = bottom - top;
        xcb_get_geometry_cookie_t asked = x.get_geometry(connection, root);
        const bool any = columns > 0 && rows > 0;
        Request request = any ? send(x0 + left, y0 + top, columns, rows, deadline) : Request{};
        auto* geometry = static_cast<xcb_get_geometry_reply_t*>(await(asked.sequence, deadline));
        if (!geometry) {
            if (any) cancel(request);
            return nullptr;
        }
        const bool steady = geometry->width == known_width && geometry->height == known_height;
        known_width = geometry->width;
        known_height = geometry->height;
        std::free(geometry);
        if (!steady) {
            if (any) cancel(request);
            std::lock_guard<std::mutex> hold(lock);
            root_width = known_width;
            root_height = known_height;
            continue;
        }
        if (!any) return std::make_unique<Shot>(nullptr, left, top, 0, 0);
        std::unique_ptr<Pixels> pixels = receive(self, request, x0 + left, y0 + top, columns, rows, deadline);
        if (!pixels) return nullptr;
        return std::make_unique<Shot>(std::move(pixels), left, top, columns, rows);
    }
    return nullptr;
}

Display::Request Display::send(int left, int top, int width, int height, Clock::time_point deadline) {
    const auto l = static_cast<int16_t>(left), t = static_cast<int16_t>(top);
    const auto w = static_cast<uint16_t>(width), h = static_cast<uint16_t>(height);
    if (shm) {
        Segment segment = take_segment(format.stride(width) * static_cast<size_t>(height), deadline);
        if (segment.address)
            return {x.shm_get_image(connection, root, l, t, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id, 0).sequence,
                    segment};
        shm = false;  // say a remote server, which cannot attach our memory: read plainly from now on
    }
    return {x.get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, l, t, w, h, ~0u).sequence, Segment{}};
}

std::unique_ptr<Pixels> Display::receive(const std::shared_ptr<Display>& self, Request request, int left, int top,
                                         int width, int height, Clock::time_point deadline) {
    const size_t stride = format.stride(width);
    if (request.segment.address) {
        xcb_generic_error_t* error = nullptr;
        void* reply = await(request.sequence, deadline, &error);
        if (reply) {
            std::free(reply);
            ++shm_reads;
            return std::unique_ptr<Pixels>(new Pixels{self, request.segment, nullptr, request.segment.address, stride});
        }
        give_back(request.segment);
        // BadMatch is the root window refusing to be read, which a plain read would meet too.
        const bool refused = !error || error->error_code == bad_match;
        std::free(error);
        if (refused) return nullptr;
        shm = false;
        request = send(left, top, width, height, deadline);
    }
    auto* reply = static_cast<xcb_get_image_reply_t*>(await(request.sequence, deadline));
    if (!reply) return nullptr;
    if (!image_holds(format, width, height, static_cast<size_t>(std::max(0, x.get_image_data_length(reply))))) {
        std::free(reply);
        return nullptr;
    }
    ++plain_reads;
    return std::unique_ptr<Pixels>(new Pixels{self, Segment{}, reply, x.get_image_data(reply), stride});
}

void Display::cancel(const Request& request) {
    // The server still writes the segment before it reads any later request, so it can go back now.
    x.discard_reply(connection, request.sequence);
    if (request.segment.address) give_back(request.segment);
}

void* Display::await(unsigned int sequence, Clock::time_point deadline, xcb_generic_error_t** error) {
    if (error) *error = nullptr;
    x.flush(connection);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* refused = nullptr;
        if (x.poll_for_reply(connection, sequence, &reply, &refused)) {
            if (error)
                *error = refused;
            else
                std::free(refused);
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || stalled) {
            stalled = true;
            x.discard_reply(connection, sequence);
            return nullptr;
        }
        pollfd readable{x.get_file_descriptor(connection), POLLIN, 0};
        poll(&readable, 1, static_cast<int>(left));
    }
}

bool Display::sync(Clock::time_point deadline) {
    void* focus = await(x.get_input_focus(connection).sequence, deadline);
    std::free(focus);
    return focus != nullptr;
}

Segment Display::take_segment(size_t bytes, Clock::time_point deadline) {
    {
        std::lock_guard<std::mutex> hold(lock);
        auto fits = idle.end();
        for (auto s = idle.begin(); s != idle.end(); ++s)
            if (s->size >= bytes && (fits == idle.end() || s->size < fits->size)) fits = s;
        if (fits != idle.end()) {
            Segment taken = *fits;
            idle.erase(fits);
            return taken;
        }
    }
    return attach_segment(bytes, deadline);
}

void Display::return_segment(Segment segment) {
    // The flush of a detach may read what the server sent: not while a grab waits for it.
    std::lock_guard<Turn> turn(talking);
    give_back(segment);
}

// A display that stalled keeps no segment: the server may still write one when it wakes.
void Display::give_back(Segment segment) {
    Segment extra;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (stalled) {
            extra = segment;
        } else {
            idle.push_back(segment);
            if (idle.size() <= idle_segments_kept) return;
            auto smallest = std::min_element(idle.begin(), idle.end(), [](const Segment& a, const Segment& b) { return a.size < b.size; });
            extra = *smallest;
            idle.erase(smallest);
        }
    }
    release(extra);
}

Segment Display::attach_segment(size_t bytes, Clock::time_point deadline) {
    int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return {};
    void* address = shmat(id, nullptr, 0);
    const bool mapped = address != reinterpret_cast<void*>(-1);
    xcb_shm_seg_t seg = x.generate_id(connection);
    const xcb_void_cookie_t attached = mapped ? x.shm_attach_checked(connection, seg, static_cast<uint32_t>(id), 0)
                                              : xcb_void_cookie_t{};
    // Marked for removal at once: it goes when both sides detach, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (!mapped) return {};
    // Once the server has answered a later request, the check finds its answer without waiting.
    xcb_generic_error_t* error = nullptr;
    if (sync(deadline))
        error = x.request_check(connection, attached);
    else
        x.discard_reply(connection, attached.sequence);
    if (error || broken()) {
        std::free(error);
        shmdt(address);
        return {};
    }
    ++attached_segments;
    return Segment{static_cast<uint8_t*>(address), bytes, seg};
}

void Display::release(const Segment& segment) {
    // Checked and discarded, so no error can pile up in the event queue nobody reads.
    x.discard_reply(connection, x.shm_detach_checked(connection, segment.id).sequence);
    x.flush(connection);
    shmdt(segment.address);
    --attached_segments;
}

namespace {

// A connection being made on a thread of its own: a server that accepts and never sends its
// setup holds that thread alone. Grabs wait for it at most server_answer_ms each, and whichever
// comes once it is done takes the display it made.
struct Attempt {
    explicit Attempt(std::string name) : name(std::move(name)) {}
    const std::string name;
    std::mutex lock;  // guards what follows
    std::condition_variable finished;
    bool done = false;
    std::shared_ptr<Display> display;  // once done: the display, or null
};

std::shared_ptr<Display> open_display(const Xcb& x, const std::string& name) {
    int screen_number = 0;
    xcb_connection_t* connection = x.connect(name.c_str(), &screen_number);
    if (x.connection_has_error(connection)) {
        x.disconnect(connection);
        return nullptr;
    }
    auto display = std::make_shared<Display>(x, connection, screen_number, name);
    return display->broken() ? nullptr : display;
}

std::shared_ptr<Attempt> start_connecting(const Xcb& x, const std::string& name) {
    auto attempt = std::make_shared<Attempt>(name);
    try {
        std::thread([&x, attempt] {
            std::shared_ptr<Display> display = open_display(x, attempt->name);
            std::lock_guard<std::mutex> hold(attempt->lock);
            attempt->display = std::move(display);
            attempt->done = true;
            attempt->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {  // no thread to be had: no display this time
        return nullptr;
    }
    return attempt;
}

}  // namespace

std::shared_ptr<screen::Source> current_display() {
    static std::mutex lock;  // guards what follows, never held while waiting for a server
    static std::shared_ptr<Display> current;
    static std::shared_ptr<Attempt> connecting;
    const Xcb* x = xcb();
    if (!x) return nullptr;
    const char* named = std::getenv("DISPLAY");
    const std::string name = named ? named : "";
    std::shared_ptr<Attempt> attempt;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (current && current->name == name && !current->broken()) return current;
        // Grabs still holding the old display keep it until they finish.
        current = nullptr;
        if (!connecting || connecting->name != name) connecting = start_connecting(*x, name);
        attempt = connecting;
    }
    if (!attempt) return nullptr;
    std::shared_ptr<Display> display;
    {
        std::unique_lock<std::mutex> waiting(attempt->lock);
        if (!attempt->finished.wait_for(waiting, std::chrono::milliseconds(server_answer_ms), [&] { return attempt->done; }))
            return nullptr;
        display = attempt->display;
    }
    std::lock_guard<std::mutex> hold(lock);
    if (connecting == attempt) connecting = nullptr;
    if (!current && display) current = display;
    return display;
}

DisplayCensus display_census() { return DisplayCensus{open_displays, attached_segments, shm_reads, plain_reads}; }

}  // namespace x11
