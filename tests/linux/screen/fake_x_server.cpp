#include "fake_x_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <list>

namespace {

const xcb_window_t root = 0x100;
const xcb_visualid_t visual = 0x21;

template <typename T>
void append(std::vector<uint8_t>& bytes, const T& value) {
    const auto* at = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), at, at + sizeof value);
}

size_t padded(size_t length) { return (length + 3) & ~size_t{3}; }

}  // namespace

std::vector<uint8_t> setup_of(const FakeScreen& screen) {
    std::vector<uint8_t> bytes;
    xcb_setup_t setup{};
    setup.status = 1;
    setup.protocol_major_version = 11;
    setup.length = (setup_at::end - 8) / 4;
    setup.resource_id_base = 0x200000;
    setup.resource_id_mask = 0x1FFFFF;
    setup.vendor_len = 4;
    setup.maximum_request_length = 0xFFFF;
    setup.roots_len = 1;
    setup.pixmap_formats_len = 1;
    setup.image_byte_order = screen.msb_first ? XCB_IMAGE_ORDER_MSB_FIRST : XCB_IMAGE_ORDER_LSB_FIRST;
    setup.bitmap_format_scanline_unit = 32;
    setup.bitmap_format_scanline_pad = 32;
    setup.min_keycode = 8;
    setup.max_keycode = 255;
    append(bytes, setup);
    bytes.insert(bytes.end(), {'f', 'a', 'k', 'e'});
    append(bytes, xcb_format_t{screen.depth, screen.bits_per_pixel, screen.scanline_pad, {}});
    xcb_screen_t s{};
    s.root = root;
    s.width_in_pixels = screen.width;
    s.height_in_pixels = screen.height;
    s.root_visual = visual;
    s.root_depth = screen.depth;
    s.allowed_depths_len = 1;
    append(bytes, s);
    append(bytes, xcb_depth_t{screen.depth, 0, 1, {}});
    append(bytes, xcb_visualtype_t{visual, XCB_VISUAL_CLASS_TRUE_COLOR, 8, 256, screen.red_mask, screen.green_mask,
                                   screen.blue_mask, {}});
    return bytes;
}

struct FakeXServer::Client {
    explicit Client(int fd) : fd(fd) {}
    int fd;
    bool greeted = false;        // the setup request has come and the setup is sent
    uint16_t sequence = 0;       // of the last request read
    std::vector<uint8_t> input;  // what has come and is not handled yet
};

FakeXServer::FakeXServer(const FakeScreen& screen, std::vector<uint8_t> setup, Then then)
    : screen(screen), setup(std::move(setup)), then(then) {
    if (pipe(stop) != 0) return;
    for (int display = 1000 + getpid() % 1000, tries = 0; tries < 100; ++display, ++tries) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
        std::memcpy(address.sun_path + 1, path.data(), path.size());  // abstract: sun_path[0] is 0
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd, 8) == 0) {
            listener = fd;
            name_ = ":" + std::to_string(display);
            break;
        }
        close(fd);
    }
    if (listener >= 0) thread = std::thread([this] { serve(); });
}

FakeXServer::~FakeXServer() {
    if (thread.joinable()) {
        char bye = 0;
        if (write(stop[1], &bye, 1) == 1) thread.join();
    }
    for (int fd : {listener, stop[0], stop[1]})
        if (fd >= 0) close(fd);
}

void FakeXServer::serve() {
    std::list<Client> clients;
    for (;;) {
        std::vector<pollfd> waits{{stop[0], POLLIN, 0}, {listener, POLLIN, 0}};
        for (const Client& c : clients) waits.push_back({c.fd, POLLIN, 0});
        if (poll(waits.data(), waits.size(), -1) < 0) continue;
        if (waits[0].revents) break;
        size_t i = 2;
        for (auto c = clients.begin(); c != clients.end(); ++i) {
            if (waits[i].revents && !talk(*c)) {
                close(c->fd);
                c = clients.erase(c);
            } else {
                ++c;
            }
        }
        if (waits[1].revents & POLLIN) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.emplace_back(fd);
        }
    }
    for (const Client& c : clients) close(c.fd);
}

bool FakeXServer::talk(Client& client) {
    uint8_t chunk[4096];
    ssize_t got = read(client.fd, chunk, sizeof chunk);
    if (got <= 0) return false;
    if (then == Then::say_nothing) return true;
    client.input.insert(client.input.end(), chunk, chunk + got);
    if (!client.greeted) {
        // byte order, pad, version (2 x 2), authorization name and data lengths, pad; then both
        if (client.input.size() < 12) return true;
        uint16_t name_length, data_length;
        std::memcpy(&name_length, &client.input[6], 2);
        std::memcpy(&data_length, &client.input[8], 2);
        const size_t whole = 12 + padded(name_length) + padded(data_length);
        if (client.input.size() < whole) return true;
        client.input.erase(client.input.begin(), client.input.begin() + static_cast<long>(whole));
        client.greeted = true;
        if (write(client.fd, setup.data(), setup.size()) != static_cast<ssize_t>(setup.size())) return false;
        if (then == Then::hang_up) return false;
    }
    for (;;) {
        if (client.input.size() < 4) return true;
        uint16_t words;
        std::memcpy(&words, &client.input[2], 2);
        const size_t size = size_t{words} * 4;
        if (size < 4) return false;  // BIG-REQUESTS was never offered
        if (client.input.size() < size) return true;
        ++client.sequence;
        if (answering && !answer(client, client.input.data(), size)) return false;
        client.input.erase(client.input.begin(), client.input.begin() + static_cast<long>(size));
    }
}

bool FakeXServer::answer(Client& client, const uint8_t* request, size_t size) {
    std::vector<uint8_t> reply(32, 0);
    reply[0] = 1;
    patch(reply, 2, client.sequence);
    switch (request[0]) {
    case XCB_QUERY_EXTENSION:
        break;  // present = 0: no extension is there
    case XCB_GET_INPUT_FOCUS:
        break;
    case XCB_GET_GEOMETRY:
        reply[1] = screen.depth;
        patch(reply, 8, root);
        patch(reply, 16, screen.width);
        patch(reply, 18, screen.height);
        break;
    case XCB_GET_IMAGE: {
        if (size < 20) return false;
        uint16_t width, height;
        std::memcpy(&width, request + 12, 2);
        std::memcpy(&height, request + 14, 2);
        const size_t bytes = std::max(1, screen.bits_per_pixel / 8);
        const size_t pad = std::max<size_t>(8, screen.scanline_pad) / 8;
        const size_t stride = (width * bytes + pad - 1) / pad * pad;
        std::vector<uint8_t> row(stride, 0);
        for (size_t x = 0; x < width; ++x)
            for (size_t b = 0; b < bytes; ++b)
                row[x * bytes + b] = static_cast<uint8_t>(screen.pixel >> (8 * (screen.msb_first ? bytes - 1 - b : b)));
        for (int y = 0; y < height; ++y) reply.insert(reply.end(), row.begin(), row.end());
        reply.resize(32 + padded(reply.size() - 32));
        reply[1] = screen.depth;
        patch(reply, 4, static_cast<uint32_t>((reply.size() - 32) / 4));
        patch(reply, 8, visual);
        break;
    }
    default:
        return true;  // a request without a reply, taken silently
    }
    return write(client.fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
}
