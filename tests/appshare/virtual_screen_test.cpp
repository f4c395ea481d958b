// The simulated screen keeps the promises of the Windows documentation that the grab relies on,
// and breaks where a careless caller would break on Windows.
#include <gtest/gtest.h>

#include <control.h>

#include <vector>

namespace {

class VirtualScreen : public ::testing::Test {
protected:
    void SetUp() override {
        dummy::reset();
        const uint32_t pixels[] = {0x00FFFFFF, 0x00102030, 0xAA000001, 0x00FFFFFF};  // 2 x 2
        dummy::screen_set(2, 2, pixels);
        screen = GetWindowDC(nullptr);
        memory = CreateCompatibleDC(screen);
    }
    void TearDown() override {
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }

    // Copies the whole screen into `bitmap` and reads it back in the given row order and depth.
    std::vector<uint32_t> copyAndRead(HBITMAP bitmap, LONG dibHeight, int* rows, WORD bitCount = 32) {
        HGDIOBJ replaced = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, 2, 2, screen, 0, 0, SRCCOPY);
        BITMAPINFO layout{};
        layout.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, dibHeight, 1, bitCount, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint32_t> bits(4, 0x77777777u);
        *rows = GetDIBits(memory, bitmap, 0, 2, bits.data(), &layout, DIB_RGB_COLORS);
        SelectObject(memory, replaced);
        return bits;
    }

    HDC screen = nullptr;
    HDC memory = nullptr;
};

TEST_F(VirtualScreen, ReadsRowsInTheOrderTheHeaderAsks) {
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
    int rows = 0;
    EXPECT_EQ(copyAndRead(bitmap, -2, &rows), (std::vector<uint32_t>{0x00FFFFFF, 0x00102030, 0xAA000001, 0x00FFFFFF}));
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(copyAndRead(bitmap, 2, &rows), (std::vector<uint32_t>{0xAA000001, 0x00FFFFFF, 0x00FFFFFF, 0x00102030}));
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(copyAndRead(bitmap, -2, &rows, 24), std::vector<uint32_t>(4, 0x77777777u)) << "a bad header reads nothing";
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(VirtualScreen, ABitmapLikeAFreshMemoryContextIsMonochrome) {
    HBITMAP bitmap = CreateCompatibleBitmap(memory, 2, 2);
    int rows = 0;
    EXPECT_EQ(copyAndRead(bitmap, -2, &rows), (std::vector<uint32_t>{0x00FFFFFF, 0, 0, 0x00FFFFFF}));
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(VirtualScreen, RefusesStaleHandlesAndSelectedBitmaps) {
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 1), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 8192, 8193), nullptr) << "more than 64 MiB";
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
    HGDIOBJ replaced = SelectObject(memory, bitmap);
    EXPECT_EQ(dummy::screen_state().selections, 1);
    EXPECT_FALSE(DeleteObject(bitmap)) << "still selected";
    EXPECT_EQ(SelectObject(memory, replaced), bitmap);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    HBITMAP next = CreateCompatibleBitmap(screen, 2, 2);
    EXPECT_NE(next, bitmap) << "handles are never reused";
    EXPECT_TRUE(DeleteObject(next));
    EXPECT_FALSE(DeleteDC(screen)) << "the screen's context is released, not deleted";
}

}  // namespace
