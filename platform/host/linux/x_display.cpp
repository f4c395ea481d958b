#include "x_display.h"

#include <sys/shm.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pixel_format.h"
#include "xcb_library.h"

namespace x11 {

namespace {

std::atomic<int> open_displays{0};
std::atomic<int> shm_reads{0};
std::atomic<int> plain_reads{0};

const uint8_t bad_match = 8;

}  // namespace

class Display {
public:
    Display(const Xcb& x, xcb_connection_t* connection, int screen_number, std::string name);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool broken() const;
    bool root_size(int& width, int& height);
    bool read(int left, int top, int width, int height, uint32_t* to, size_t stride);

    const std::string name;

private:
    // One segment per connection, kept and grown to the largest rectangle read so far: a fresh
    // one per read costs ten times the read itself (the server maps it, the pages are touched).
    struct Segment {
        uint8_t* address = nullptr;
        size_t size = 0;
        xcb_shm_seg_t id = 0;
    };

    enum class Shm { read, refused, unusable };
    Shm read_shm(int left, int top, int width, int height, uint32_t* to, size_t stride);
    bool read_plain(int left, int top, int width, int height, uint32_t* to, size_t stride);
    bool grow_segment(size_t bytes);
    void release_segment();
    void convert(const uint8_t* from, int width, int height, uint32_t* to, size_t stride) const;

    const Xcb& x;
    xcb_connection_t* const connection;
    xcb_window_t root = 0;
    PixelFormat format;
    std::atomic<bool> shm{false};
    std::mutex segment_lock;
    Segment segment;
};

Display::Display(const Xcb& x, xcb_connection_t* connection, int screen_number, std::string name)
    : name(std::move(name)), x(x), connection(connection) {
    ++open_displays;
    const xcb_setup_t* setup = x.get_setup(connection);
    xcb_screen_iterator_t screens = x.setup_roots_iterator(setup);
    for (int i = 0; i < screen_number && screens.rem; ++i) x.screen_next(&screens);
    if (!screens.rem) return;
    const xcb_screen_t* screen = screens.data;
    root = screen->root;

    for (xcb_format_iterator_t f = x.setup_pixmap_formats_iterator(setup); f.rem; x.format_next(&f))
        if (f.data->depth == screen->root_depth) {
            format.bits_per_pixel = f.data->bits_per_pixel;
            format.scanline_pad = f.data->scanline_pad;
        }
    format.msb_first = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (xcb_depth_iterator_t d = x.screen_allowed_depths_iterator(screen); d.rem; x.depth_next(&d))
        for (xcb_visualtype_iterator_t v = x.depth_visuals_iterator(d.data); v.rem; x.visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual && v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) {
                format.red_mask = v.data->red_mask;
                format.green_mask = v.data->green_mask;
                format.blue_mask = v.data->blue_mask;
            }

    if (x.shm_id) {
        const xcb_query_extension_reply_t* extension = x.get_extension_data(connection, x.shm_id);
        shm = extension && extension->present;
    }
}

Display::~Display() {
    release_segment();
    x.disconnect(connection);
    --open_displays;
}

// XCB learns that the server went away only when it next talks to it; a peek at the socket
// tells at once, so a server restarted on the same display is found before a grab fails.
bool Display::broken() const {
    if (x.connection_has_error(connection)) return true;
    char byte;
    return recv(x.get_file_descriptor(connection), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool Display::root_size(int& width, int& height) {
    xcb_get_geometry_reply_t* geometry = x.get_geometry_reply(connection, x.get_geometry(connection, root), nullptr);
    if (!geometry) return false;
    width = geometry->width;
    height = geometry->height;
    std::free(geometry);
    return true;
}

bool Display::read(int left, int top, int width, int height, uint32_t* to, size_t stride) {
    if (!root || !format.supported()) return false;
    if (shm) {
        Shm result = read_shm(left, top, width, height, to, stride);
        if (result != Shm::unusable) return result == Shm::read;
        shm = false;  // say a remote server, which cannot attach our memory: read plainly from now on
    }
    return read_plain(left, top, width, height, to, stride);
}

Display::Shm Display::read_shm(int left, int top, int width, int height, uint32_t* to, size_t stride) {
    const size_t bytes = format.stride(width) * static_cast<size_t>(height);
    std::lock_guard<std::mutex> hold(segment_lock);
    if (!grow_segment(bytes)) return Shm::unusable;
    xcb_generic_error_t* error = nullptr;
    xcb_shm_get_image_reply_t* reply = x.shm_get_image_reply(connection,
        x.shm_get_image(connection, root, static_cast<int16_t>(left), static_cast<int16_t>(top),
                        static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u,
                        XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id, 0),
        &error);
    if (!reply) {
        // BadMatch is the root window refusing to be read, which a plain read would meet too.
        bool refused = !error || error->error_code == bad_match;
        std::free(error);
        return refused ? Shm::refused : Shm::unusable;
    }
    std::free(reply);
    convert(segment.address, width, height, to, stride);
    ++shm_reads;
    return Shm::read;
}

bool Display::read_plain(int left, int top, int width, int height, uint32_t* to, size_t stride) {
    xcb_get_image_reply_t* reply = x.get_image_reply(connection,
        x.get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(left), static_cast<int16_t>(top),
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u),
        nullptr);
    if (!reply) return false;
    bool whole = static_cast<size_t>(x.get_image_data_length(reply)) >= format.stride(width) * static_cast<size_t>(height);
    if (whole) {
        convert(x.get_image_data(reply), width, height, to, stride);
        ++plain_reads;
    }
    std::free(reply);
    return whole;
}

bool Display::grow_segment(size_t bytes) {
    if (segment.size >= bytes) return true;
    release_segment();
    int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* address = shmat(id, nullptr, 0);
    xcb_shm_seg_t seg = x.generate_id(connection);
    xcb_generic_error_t* error = address == reinterpret_cast<void*>(-1)
        ? nullptr
        : x.request_check(connection, x.shm_attach_checked(connection, seg, static_cast<uint32_t>(id), 0));
    // Marked for removal at once: it goes when both sides detach, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1)) return false;
    if (error || broken()) {
        std::free(error);
        shmdt(address);
        return false;
    }
    segment = Segment{static_cast<uint8_t*>(address), bytes, seg};
    return true;
}

void Display::release_segment() {
    if (!segment.address) return;
    // Checked and discarded, so no error can pile up in the event queue nobody reads.
    x.discard_reply(connection, x.shm_detach_checked(connection, segment.id).sequence);
    x.flush(connection);
    shmdt(segment.address);
    segment = Segment{};
}

void Display::convert(const uint8_t* from, int width, int height, uint32_t* to, size_t stride) const {
    const size_t from_stride = format.stride(width);
    for (int row = 0; row < height; ++row)
        format.convert_row(from + row * from_stride, width, to + row * stride);
}

std::shared_ptr<Display> current_display() {
    static std::mutex lock;
    static std::shared_ptr<Display> current;
    const Xcb* x = xcb();
    if (!x) return nullptr;
    const char* named = std::getenv("DISPLAY");
    std::string name = named ? named : "";
    std::lock_guard<std::mutex> hold(lock);
    if (current && current->name == name && !current->broken()) return current;
    // Grabs still holding the old display keep it until they finish.
    current = nullptr;
    int screen_number = 0;
    xcb_connection_t* connection = x->connect(nullptr, &screen_number);
    if (x->connection_has_error(connection)) {
        x->disconnect(connection);
        return nullptr;
    }
    current = std::make_shared<Display>(*x, connection, screen_number, std::move(name));
    return current;
}

bool root_size(Display& display, int& width, int& height) { return display.root_size(width, height); }

bool read_root(Display& display, int x, int y, int width, int height, uint32_t* to, size_t stride) {
    return display.read(x, y, width, height, to, stride);
}

DisplayCensus display_census() { return DisplayCensus{open_displays, shm_reads, plain_reads}; }

}  // namespace x11
