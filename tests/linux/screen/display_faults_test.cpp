// Screens the grab cannot read, or reads only by converting: no display, a server that went
// away, a palette screen, a 16-bit screen. Nothing crashes; what cannot be read is zeros.
#include <string>
#include <vector>

#include "screen_test_support.h"

namespace {

using DisplayFaults = ScreenTest;

const std::vector<uint32_t> zeros(size_t count) { return std::vector<uint32_t>(count, 0); }

TEST_F(DisplayFaults, NoDisplayGivesZeros) {
    use_display("");
    EXPECT_EQ(GetWindowDC(nullptr), nullptr);
    EXPECT_EQ(grabbed(0, 0, 8, 4), zeros(32));

    use_display(":4093");  // a display nobody serves
    EXPECT_EQ(grabbed(0, 0, 8, 4), zeros(32));
    expectEverythingReleased();
}

TEST_F(DisplayFaults, AServerThatWentAwayGivesZerosAndANewOneIsFound) {
    std::vector<uint32_t> seen;
    {
        XServer server(64, 48, 24);
        ASSERT_FALSE(server.name().empty());
        use_display(server.name());
        server.draw(picture(64, 48).data(), 4);
        ASSERT_EQ(grabbed(1, 1, 2, 1), (std::vector<uint32_t>{0x001001, 0x001002}));
        server.kill();
        EXPECT_EQ(grabbed(1, 1, 2, 1), zeros(2));
    }
    XServer next(64, 48, 24);
    ASSERT_FALSE(next.name().empty());
    use_display(next.name());
    next.draw(picture(64, 48).data(), 4);
    EXPECT_EQ(grabbed(3, 2, 1, 1), std::vector<uint32_t>{0x002003});
    expectEverythingReleased();
}

// A Wayland session whose desktop portal cannot be reached reads its X server (XWayland, or an X
// server beside it), and does not ask the bus again on every grab.
TEST_F(DisplayFaults, AWaylandSessionWithoutAPortalReadsX) {
    XServer server(64, 48, 24);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    server.draw(picture(64, 48).data(), 4);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(grabbed(1, 1, 2, 1), (std::vector<uint32_t>{0x001001, 0x001002}));
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
    unsetenv("XDG_SESSION_TYPE");
    expectEverythingReleased();
}

// The picture where (x, y) lies on a width x height screen, black elsewhere.
std::vector<uint32_t> seen_on(int width, int height, int x, int y, int columns, int rows) {
    std::vector<uint32_t> pixels;
    for (int r = y; r < y + rows; ++r)
        for (int c = x; c < x + columns; ++c)
            pixels.push_back(c < width && r < height ? picture_pixel(c, r) & 0x00FFFFFF : 0);
    return pixels;
}

TEST_F(DisplayFaults, AServerRestartedOnTheSameDisplayIsReadAtItsNewSize) {
    XServer server(64, 48, 24);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    server.draw(picture(64, 48).data(), 4);
    ASSERT_EQ(grabbed(0, 0, 64, 48), seen_on(64, 48, 0, 0, 64, 48));

    const std::string name = server.name();
    server.restart(40, 30);
    ASSERT_EQ(server.name(), name);
    server.draw(picture(40, 30).data(), 4);
    EXPECT_EQ(grabbed(0, 0, 64, 48), seen_on(40, 30, 0, 0, 64, 48));
    EXPECT_EQ(host::screen_census().displays, 1);
    expectEverythingReleased();
}

TEST_F(DisplayFaults, AScreenResizedThroughRandRIsReadAtItsNewSize) {
    XServer server(64, 48, 24);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    server.draw(picture(64, 48).data(), 4);
    ASSERT_EQ(grabbed(0, 0, 64, 48), seen_on(64, 48, 0, 0, 64, 48));

    server.shrink(40, 30);
    server.draw(picture(40, 30).data(), 4);
    EXPECT_EQ(grabbed(0, 0, 64, 48), seen_on(40, 30, 0, 0, 64, 48));
    EXPECT_EQ(grabbed(30, 20, 20, 20), seen_on(40, 30, 30, 20, 20, 20));
    expectEverythingReleased();
}

TEST_F(DisplayFaults, APaletteScreenIsNotReadAndGivesZeros) {
    XServer server(64, 48, 8);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    std::vector<uint8_t> white(64 * 48, 1);
    server.draw(white.data(), 1);

    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    HGDIOBJ stock = SelectObject(memory, bitmap);
    EXPECT_FALSE(BitBlt(memory, 0, 0, 4, 4, screen, 0, 0, SRCCOPY));
    SelectObject(memory, stock);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    EXPECT_EQ(grabbed(0, 0, 64, 48), zeros(64 * 48));
    expectEverythingReleased();
}

TEST_F(DisplayFaults, ASixteenBitScreenIsScaledToEightBitsAChannel) {
    XServer server(4, 2, 16);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    // 5-6-5: full and empty channels, a middle green, and the smallest step of each.
    const uint16_t pixels[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x0400, 0x0800, 0x0021};
    server.draw(pixels, 2);

    EXPECT_EQ(grabbed(0, 0, 4, 2),
              (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x008200, 0x080000, 0x000408}));
    expectEverythingReleased();
}

}  // namespace
