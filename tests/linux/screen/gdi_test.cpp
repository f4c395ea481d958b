// The GDI calls directly, on a small Xvfb: what the grab does not exercise through the export.
#include <windows.h>

#include <memory>
#include <vector>

#include "screen_test_support.h"

namespace {

// 4 x 2: white, red, grey, white / black, white, green, blue.
const uint32_t shown[] = {0xFFFFFF, 0xFF0000, 0x808080, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x00FF00, 0x0000FF};

class Gdi : public ScreenTest {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>(4, 2, 24);
        if (!server->name().empty()) server->draw(shown, 4);
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_FALSE(server->name().empty()) << "Xvfb did not start";
        use_display(server->name());
        screen = GetWindowDC(nullptr);
        memory = CreateCompatibleDC(screen);
        ASSERT_NE(screen, nullptr);
        ASSERT_NE(memory, nullptr);
    }

    void TearDown() override {
        EXPECT_TRUE(DeleteDC(memory));
        EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
        expectEverythingReleased();
    }

    static std::vector<uint32_t> rows(HDC dc, HBITMAP bitmap, int width, int height) {
        BITMAPINFO layout{};
        layout.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * std::abs(height), untouched);
        EXPECT_EQ(GetDIBits(dc, bitmap, 0, std::abs(height), pixels.data(), &layout, DIB_RGB_COLORS), std::abs(height));
        return pixels;
    }

    static std::unique_ptr<XServer> server;
    HDC screen = nullptr;
    HDC memory = nullptr;
};

std::unique_ptr<XServer> Gdi::server;

TEST_F(Gdi, ABitmapOfTheMemoryContextIsMonochrome) {
    // Compatible with the stock 1 x 1 monochrome bitmap: white stays white, the rest is black.
    HBITMAP bitmap = CreateCompatibleBitmap(memory, 4, 2);
    HGDIOBJ stock = SelectObject(memory, bitmap);
    EXPECT_TRUE(BitBlt(memory, 0, 0, 4, 2, screen, 0, 0, SRCCOPY));
    EXPECT_EQ(rows(memory, bitmap, 4, -2), (std::vector<uint32_t>{0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0xFFFFFF, 0, 0}));
    SelectObject(memory, stock);
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(Gdi, CopiesIntoAnOffsetAndBetweenBitmaps) {
    HBITMAP first = CreateCompatibleBitmap(screen, 3, 3);
    HBITMAP second = CreateCompatibleBitmap(screen, 3, 3);
    HGDIOBJ stock = SelectObject(memory, first);
    // Screen (1, 0) to (2, 1) of the bitmap: only one row and one column fit; the rest stays black.
    EXPECT_TRUE(BitBlt(memory, 2, 1, 3, 3, screen, 1, 0, SRCCOPY));
    EXPECT_EQ(rows(memory, first, 3, -3), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0xFF0000, 0, 0, 0xFFFFFF}));

    HDC other = CreateCompatibleDC(screen);
    SelectObject(other, second);
    EXPECT_TRUE(BitBlt(other, 0, 0, 3, 3, memory, 1, 1, SRCCOPY));
    EXPECT_EQ(rows(other, second, 3, 3), (std::vector<uint32_t>{0, 0, 0, 0, 0xFFFFFF, 0, 0, 0xFF0000, 0}))
        << "a positive height gives the bottom row first";
    SelectObject(other, stock);
    SelectObject(memory, stock);
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_TRUE(DeleteObject(first));
    EXPECT_TRUE(DeleteObject(second));
}

TEST_F(Gdi, ABitmapReadTwiceKeepsWhatItCopied) {
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 3, 2);
    HGDIOBJ stock = SelectObject(memory, bitmap);
    // From (2, 0), partly beside the screen: the last column stays black.
    EXPECT_TRUE(BitBlt(memory, 0, 0, 3, 2, screen, 2, 0, SRCCOPY));
    EXPECT_EQ(rows(memory, bitmap, 3, -2), (std::vector<uint32_t>{0x808080, 0xFFFFFF, 0, 0x00FF00, 0x0000FF, 0}));

    const uint32_t blank[8] = {};
    server->draw(blank, 4);
    EXPECT_EQ(rows(memory, bitmap, 3, 2), (std::vector<uint32_t>{0x00FF00, 0x0000FF, 0, 0x808080, 0xFFFFFF, 0}))
        << "the screen changed after the first read, the bitmap did not";
    server->draw(shown, 4);
    SelectObject(memory, stock);
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(Gdi, RefusesWhatTheCallsDoNotOffer) {
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 4), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 40000, 40000), nullptr) << "6.4 GB";
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 5);
    EXPECT_EQ(rows(memory, empty, 1, 1), std::vector<uint32_t>{0}) << "a zero size gives 1 x 1";
    EXPECT_TRUE(DeleteObject(empty));

    HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
    HGDIOBJ stock = SelectObject(memory, bitmap);
    HDC other = CreateCompatibleDC(screen);
    EXPECT_EQ(SelectObject(other, bitmap), nullptr) << "selected into one context at a time";
    EXPECT_FALSE(DeleteObject(bitmap)) << "selected";
    EXPECT_FALSE(BitBlt(screen, 0, 0, 2, 2, memory, 0, 0, SRCCOPY)) << "nothing draws on the screen";
    EXPECT_FALSE(BitBlt(memory, 0, 0, 2, 2, screen, 0, 0, 0x00EE0086)) << "SRCPAINT";
    std::vector<uint32_t> pixels(4);
    BITMAPINFO layout{};
    layout.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(GetDIBits(memory, bitmap, 0, 2, pixels.data(), &layout, DIB_RGB_COLORS), 0) << "width differs";
    layout.bmiHeader.biWidth = 2;
    layout.bmiHeader.biBitCount = 24;
    EXPECT_EQ(GetDIBits(memory, bitmap, 0, 2, pixels.data(), &layout, DIB_RGB_COLORS), 0) << "24 bits";
    EXPECT_EQ(DeleteDC(screen), FALSE);
    EXPECT_EQ(ReleaseDC(nullptr, other), 0);
    SelectObject(memory, stock);
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap)) << "a stale handle";
    EXPECT_EQ(SelectObject(memory, bitmap), nullptr);
}

}  // namespace
