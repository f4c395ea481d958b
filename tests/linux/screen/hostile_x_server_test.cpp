// X servers that are broken or hostile, played by a fake server: the setup is read with every
// count checked against the bytes sent, so a setup the grab cannot trust gives zeros, never a
// crash; one it can trust is read in whatever format it names.
#include <string>
#include <vector>

#include "fake_x_server.h"
#include "screen_test_support.h"

namespace {

using HostileXServer = ScreenTest;

const std::vector<uint32_t> zeros(size_t count) { return std::vector<uint32_t>(count, 0); }

TEST_F(HostileXServer, AFakeServersWellFormedSetupIsReadInItsOwnFormat) {
    FakeScreen packed;  // three bytes a pixel, rows padded to 32 bits
    packed.bits_per_pixel = 24;
    packed.pixel = 0x123456;
    FakeScreen big_endian;  // 5-6-5, the high byte first
    big_endian.depth = big_endian.bits_per_pixel = 16;
    big_endian.msb_first = true;
    big_endian.red_mask = 0xF800;
    big_endian.green_mask = 0x07E0;
    big_endian.blue_mask = 0x001F;
    big_endian.pixel = 0xF81F;
    for (auto [screen, seen] : {std::pair{packed, 0x123456u}, std::pair{big_endian, 0xFF00FFu}}) {
        FakeXServer server(screen, setup_of(screen), FakeXServer::Then::answer);
        ASSERT_FALSE(server.name().empty());
        use_display(server.name());
        EXPECT_EQ(grabbed(0, 0, 3, 2), std::vector<uint32_t>(6, seen)) << int{screen.bits_per_pixel};
        EXPECT_EQ(grabbed(2, 1, 3, 2), (std::vector<uint32_t>{seen, seen, 0, 0, 0, 0}));
    }
    expectEverythingReleased();
}

// Each screen is white, so that a zero says the setup was refused.
FakeScreen white() {
    FakeScreen screen;
    screen.pixel = 0xFFFFFF;
    return screen;
}

TEST_F(HostileXServer, ASetupCutShortOrPastItsOwnEndGivesZeros) {
    const FakeScreen screen = white();
    const std::vector<uint8_t> good = setup_of(screen);
    struct Spoilt {
        const char* what;
        std::vector<uint8_t> setup;
    };
    std::vector<Spoilt> cases;
    auto spoil = [&](const char* what, auto change) {
        std::vector<uint8_t> setup = good;
        change(setup);
        cases.push_back({what, setup});
    };
    spoil("no body at all", [](auto& s) { s.resize(8); patch<uint16_t>(s, setup_at::length, 0); });
    spoil("a body shorter than the header", [](auto& s) { s.resize(24); patch<uint16_t>(s, setup_at::length, 4); });
    spoil("the screens cut off", [](auto& s) { s.resize(64); patch<uint16_t>(s, setup_at::length, 14); });
    spoil("a vendor longer than the setup", [](auto& s) { patch<uint16_t>(s, setup_at::vendor_length, 0xFFFF); });
    spoil("255 pixmap formats", [](auto& s) { s[setup_at::formats] = 255; });
    spoil("255 screens", [](auto& s) { s[setup_at::screens] = 255; });
    spoil("255 depths", [](auto& s) { s[setup_at::depths] = 255; });
    spoil("255 depths, the first of 65535 visuals", [](auto& s) {
        s[setup_at::depths] = 255;
        patch<uint16_t>(s, setup_at::depth_visuals, 0xFFFF);
    });
    spoil("one visual too many", [](auto& s) { patch<uint16_t>(s, setup_at::depth_visuals, 2); });
    spoil("the largest setup there is, every byte 0xFF", [](auto& s) {
        s.assign(8 + 0xFFFF * 4, 0xFF);
        s[0] = 1;
        patch<uint16_t>(s, setup_at::length, 0xFFFF);
    });
    for (const Spoilt& spoilt : cases) {
        FakeXServer server(screen, spoilt.setup, FakeXServer::Then::answer);
        ASSERT_FALSE(server.name().empty());
        use_display(server.name());
        EXPECT_EQ(grabbed(0, 0, 4, 2), zeros(8)) << spoilt.what;
    }
    expectEverythingReleased();
}

TEST_F(HostileXServer, ASetupThatEndsEarlierThanItSaysGivesZeros) {
    const FakeScreen screen = white();
    std::vector<uint8_t> setup = setup_of(screen);
    setup.resize(setup.size() / 2);  // the header still counts the whole
    FakeXServer server(screen, setup, FakeXServer::Then::hang_up);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    EXPECT_EQ(grabbed(0, 0, 4, 2), zeros(8));
    expectEverythingReleased();
}

TEST_F(HostileXServer, FormatsThatCannotBeReadGiveZeros) {
    struct Odd {
        const char* what;
        uint8_t bits_per_pixel, pad, depth;
    };
    for (Odd odd : {Odd{"7 bits a pixel", 7, 32, 24}, Odd{"0 bits a pixel", 0, 32, 24}, Odd{"255 bits a pixel", 255, 32, 24},
                    Odd{"rows padded to 0 bits", 32, 0, 24}, Odd{"rows padded to 12 bits", 32, 12, 24},
                    Odd{"no format of the root's depth", 32, 32, 30}}) {
        FakeScreen screen = white();
        std::vector<uint8_t> setup = setup_of(screen);
        setup[setup_at::format_bits_per_pixel] = odd.bits_per_pixel;
        setup[setup_at::format_pad] = odd.pad;
        setup[setup_at::root_depth] = odd.depth;
        FakeXServer server(screen, setup, FakeXServer::Then::answer);
        ASSERT_FALSE(server.name().empty());
        use_display(server.name());
        EXPECT_EQ(grabbed(0, 0, 4, 2), zeros(8)) << odd.what;
    }
    FakeScreen no_masks = white();
    no_masks.red_mask = no_masks.green_mask = no_masks.blue_mask = 0;
    FakeXServer server(no_masks, setup_of(no_masks), FakeXServer::Then::answer);
    use_display(server.name());
    EXPECT_EQ(grabbed(0, 0, 4, 2), zeros(8)) << "no colour masks";
    expectEverythingReleased();
}

}  // namespace
