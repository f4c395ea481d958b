// The search for pages below 2 GiB that aarch64 builds use, run here on x86-64: the places it
// finds are free, low, and stay someone else's when taken.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "low_pages.h"

namespace {

const uintptr_t two_gib = uintptr_t{1} << 31;
const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));

uintptr_t address(void* p) { return reinterpret_cast<uintptr_t>(p); }

TEST(LowPages, AreBelow2GiBFreshAndDistinct) {
    std::vector<std::pair<void*, size_t>> mappings;
    for (size_t size : {page, 16 * page, size_t{1} << 20, page, size_t{3} << 20}) {
        void* p = host::map_low_pages(nullptr, size);
        ASSERT_NE(p, MAP_FAILED);
        EXPECT_LE(address(p) + size, two_gib);
        for (size_t i = 0; i < size; i += page) EXPECT_EQ(static_cast<char*>(p)[i], 0);
        std::memset(p, 0x5a, size);  // writable, and the next mapping must not see it
        mappings.emplace_back(p, size);
    }
    for (size_t i = 1; i < mappings.size(); i++) EXPECT_NE(mappings[i].first, mappings[i - 1].first);
    for (auto [p, size] : mappings) munmap(p, size);
}

TEST(LowPages, TakeAFreeHintAndLeaveATakenOneAlone) {
    void* first = host::map_low_pages(nullptr, 4 * page);
    ASSERT_NE(first, MAP_FAILED);
    std::memset(first, 0x5a, 4 * page);
    // The same place again is taken: another place, and the first pages keep what they hold.
    void* second = host::map_low_pages(first, 4 * page);
    ASSERT_NE(second, MAP_FAILED);
    EXPECT_NE(second, first);
    EXPECT_EQ(static_cast<unsigned char*>(first)[4 * page - 1], 0x5a);
    // Given back, the place is free for a hint.
    munmap(first, 4 * page);
    EXPECT_EQ(host::map_low_pages(first, 4 * page), first);
    munmap(first, 4 * page);
    munmap(second, 4 * page);
}

TEST(LowPages, RefusedWhenNothingIsLeftBelow2GiB) {
    // Take every free place below 2 GiB (address space only: nothing is touched), largest first.
    std::vector<std::pair<void*, size_t>> taken;
    for (size_t size = size_t{1} << 30; size >= page; size /= 2)
        for (void* p; (p = host::map_low_pages(nullptr, size)) != MAP_FAILED;) taken.emplace_back(p, size);
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(host::map_low_pages(nullptr, page), MAP_FAILED);
    for (auto [p, size] : taken) {
        EXPECT_LE(address(p) + size, two_gib);
        munmap(p, size);
    }
    void* again = host::map_low_pages(nullptr, page);
    EXPECT_NE(again, MAP_FAILED);
    munmap(again, page);
}

// A free place of exactly the size asked for, off the search's stride, is room all the same.
TEST(LowPages, FindAFreePlaceOffTheStride) {
    std::vector<std::pair<void*, size_t>> taken;
    for (size_t size = size_t{1} << 30; size >= page; size /= 2)
        for (void* p; (p = host::map_low_pages(nullptr, size)) != MAP_FAILED;) taken.emplace_back(p, size);
    // The search resumes at the top: the last page below 2 GiB, given back and taken again.
    munmap(reinterpret_cast<void*>(two_gib - page), page);
    void* top = host::map_low_pages(nullptr, page);
    ASSERT_EQ(address(top), two_gib - page) << "the top page was someone else's";
    // Two pages given back, an odd number of pages above 1 MiB.
    const uintptr_t lowest = uintptr_t{1} << 20;
    uintptr_t hole = 0;
    for (auto [p, size] : taken)
        if (size >= 4 * page) {
            hole = address(p) + ((address(p) - lowest) / page % 2 ? 0 : page);
            break;
        }
    ASSERT_NE(hole, 0u);
    munmap(reinterpret_cast<void*>(hole), 2 * page);
    void* found = host::map_low_pages(nullptr, 2 * page);
    EXPECT_EQ(address(found), hole);
    if (found != MAP_FAILED) munmap(found, 2 * page);
    munmap(top, page);
    for (auto [p, size] : taken) munmap(p, size);
}

}  // namespace
