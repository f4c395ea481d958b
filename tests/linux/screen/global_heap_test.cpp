// The global heap keeps the last large block's pages for the next block of that size (the grab's
// scratch buffer, many times a second): what it hands out must still honour the flags as fresh
// pages do.
#include <gtest/gtest.h>
#include <kernel.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace {

const SIZE_T large = SIZE_T{8} << 20;  // a 1920 x 1080 screen, and some

TEST(GlobalHeap, AReusedLargeBlockAskedZeroFilledIsZero) {
    auto* first = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, large));
    ASSERT_NE(first, nullptr);
    std::fill_n(first, large, uint8_t{0x5A});
    EXPECT_EQ(GlobalFree(first), nullptr);

    auto* second = static_cast<uint8_t*>(GlobalAlloc(GMEM_ZEROINIT, large));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second, first) << "the pages were kept";
    EXPECT_EQ(std::count(second, second + large, 0), static_cast<long>(large));
    EXPECT_EQ(GlobalFree(second), nullptr);
    EXPECT_EQ(host::kernel_census().allocations, 0);
}

TEST(GlobalHeap, BlocksOfOtherSizesGetFreshPages) {
    auto* first = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, large));
    ASSERT_NE(first, nullptr);
    GlobalFree(first);
    auto* smaller = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, large / 2));
    ASSERT_NE(smaller, nullptr);
    EXPECT_EQ(std::count(smaller, smaller + large / 2, 0xCD), static_cast<long>(large / 2)) << "fresh pages are marked";
    GlobalFree(smaller);
}

// Blocks live below 2 GiB, in the 1 GiB that the heap maps from: pages kept for later must not
// take the room that a block of another size needs once everything has been freed.
TEST(GlobalHeap, FreedLargeBlocksLeaveRoomForABlockOfAnotherSize) {
    const SIZE_T mib = SIZE_T{1} << 20;
    void* first = GlobalAlloc(GMEM_FIXED, 600 * mib);
    void* second = GlobalAlloc(GMEM_FIXED, 300 * mib);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    GlobalFree(first);
    GlobalFree(second);
    ASSERT_EQ(host::kernel_census().allocations, 0);
    void* other = GlobalAlloc(GMEM_FIXED, 500 * mib);
    EXPECT_NE(other, nullptr) << "nothing is allocated, yet 500 MiB could not be had";
    GlobalFree(other);
}

}  // namespace
