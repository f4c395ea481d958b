// An X server of our own, for the faults a real one does not make: it hands every client the
// setup it is given, byte for byte, and then answers the few requests a grab makes, hangs up, or
// says nothing at all. It listens on a free display's abstract socket, where libxcb looks first.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// The one screen a fake server describes and serves: every pixel is `pixel`, in the format given.
struct FakeScreen {
    uint16_t width = 4, height = 2;
    uint8_t depth = 24, bits_per_pixel = 32, scanline_pad = 32;
    bool msb_first = false;
    uint32_t red_mask = 0xFF0000, green_mask = 0xFF00, blue_mask = 0xFF;
    uint32_t pixel = 0;
};

// A well-formed setup of that screen: one pixmap format, one depth with one TrueColor visual.
std::vector<uint8_t> setup_of(const FakeScreen& screen);

// Where its fields lie in setup_of's bytes, for tests that spoil them.
namespace setup_at {
const size_t length = 6, vendor_length = 24, screens = 28, formats = 29;
const size_t format_bits_per_pixel = 45, format_pad = 46;
const size_t root_depth = 90, depths = 91;
const size_t depth_visuals = 94;
const size_t end = 124;
}  // namespace setup_at

template <typename T>
void patch(std::vector<uint8_t>& bytes, size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

class FakeXServer {
public:
    enum class Then {
        answer,       // QueryExtension (nothing is there), GetGeometry, GetImage, GetInputFocus
        hang_up,      // closes the connection once the setup is sent
        say_nothing,  // sends nothing, not even the setup, and keeps the connection open
    };

    FakeXServer(const FakeScreen& screen, std::vector<uint8_t> setup, Then then);
    ~FakeXServer();
    FakeXServer(const FakeXServer&) = delete;
    FakeXServer& operator=(const FakeXServer&) = delete;

    // ":N", or empty if no display number could be had.
    const std::string& name() const { return name_; }
    // From now on requests are read but never answered, as by a server that stopped.
    void stop_answering() { answering = false; }

private:
    struct Client;
    void serve();
    bool talk(Client& client);  // false once the client is to be hung up on
    bool answer(Client& client, const uint8_t* request, size_t size);  // false once it cannot

    const FakeScreen screen;
    const std::vector<uint8_t> setup;
    const Then then;
    std::atomic<bool> answering{true};
    int listener = -1;
    int stop[2] = {-1, -1};
    std::string name_;
    std::thread thread;
};
