// What a compositor may announce for a screencopy frame before we make a buffer for it: only a
// format we convert, with sides and a stride that fit what the buffer will hold.
#include <gtest/gtest.h>

#include "screen/screencopy/shm_buffer.h"

namespace {

using screencopy::receivable;
using screencopy::Shape;

const uint32_t xrgb = 1, rgb565 = 0x36314752, bgr888 = 0x34324742;

TEST(ScreencopyShape, TakesTheFormatsWeConvertWithARowPerStride) {
    EXPECT_TRUE(receivable({xrgb, 1280, 720, 5120}));
    EXPECT_TRUE(receivable({0, 1, 1, 4})) << "ARGB8888";
    EXPECT_TRUE(receivable({xrgb, 1280, 720, 5184})) << "rows padded";
    EXPECT_TRUE(receivable({rgb565, 10, 3, 20}));
    EXPECT_TRUE(receivable({bgr888, 10, 3, 30}));
    EXPECT_TRUE(receivable({xrgb, screencopy::max_side, screencopy::max_side, 4 * screencopy::max_side}))
        << "exactly the largest frame";
}

TEST(ScreencopyShape, RefusesWhatNoBufferOfOursShouldHold) {
    EXPECT_FALSE(receivable({xrgb, 1280, 720, 5116})) << "a stride shorter than a row";
    EXPECT_FALSE(receivable({rgb565, 10, 3, 19}));
    EXPECT_FALSE(receivable({bgr888, 10, 3, 29}));
    EXPECT_FALSE(receivable({xrgb, 0, 720, 5120}));
    EXPECT_FALSE(receivable({xrgb, 1280, 0, 5120}));
    EXPECT_FALSE(receivable({xrgb, screencopy::max_side + 1, 1, 4 * (screencopy::max_side + 1)}));
    EXPECT_FALSE(receivable({xrgb, 1, screencopy::max_side + 1, 4}));
    EXPECT_FALSE(receivable({xrgb, 1, 2, 0xFFFFFFFFu})) << "8 GiB in two rows";
    EXPECT_FALSE(receivable({xrgb, screencopy::max_side, screencopy::max_side, 4 * screencopy::max_side + 4}))
        << "a byte over the bound";
    EXPECT_FALSE(receivable({0x12345678, 16, 16, 64})) << "a format we do not convert";
    EXPECT_FALSE(receivable({0x20203843, 16, 16, 16})) << "C8, a palette";
}

}  // namespace
