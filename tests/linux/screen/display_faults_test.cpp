// Screens the grab cannot read, or reads only by converting: no display, a server that went
// away, a palette screen, a 16-bit screen. Nothing crashes; what cannot be read is zeros.
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
