// Drives nGrabPixels on a small virtual screen with hostile rectangles, coordinates and array
// lengths. A grab whose array matches must hold the screen where the rectangle covers it and
// 0 elsewhere; any other call must leave the array and the screen alone. Every call gives back
// everything it took.
#include <com_velk_orvanta_content_client_appshare_Deskcap.h>

#include <control.h>
#include <fake_jni.h>

#include <algorithm>
#include <vector>

#include "fuzz_input.h"

namespace {

constexpr int kMaxGrabs = 8;
constexpr jint kFill = 0x5A5A5A5A;
// The simulated BitBlt walks every row of a rectangle, even an empty one: keep a side of a
// zero-area rectangle small enough for a quick run.
constexpr jint kLongestEmptySide = 1 << 16;

struct Screen {
    int width, height;
    std::vector<uint32_t> pixels;

    uint32_t at(int64_t x, int64_t y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0;
        return pixels[static_cast<size_t>(y * width + x)];
    }
};

Screen paintScreen(FuzzedDataProvider& input) {
    Screen screen{input.ConsumeIntegralInRange(0, 48), input.ConsumeIntegralInRange(0, 48), {}};
    screen.pixels.resize(static_cast<size_t>(screen.width) * static_cast<size_t>(screen.height));
    for (size_t i = 0; i < screen.pixels.size(); ++i) screen.pixels[i] = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
    dummy::screen_set(screen.width, screen.height, screen.pixels.data());
    return screen;
}

// An array of exactly width x height elements, one more or less, any small length, or none.
jint arrayLength(FuzzedDataProvider& input, int64_t area) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return area >= 0 && area <= (1 << 16) ? static_cast<jint>(area) : 0;
    case 1: return area >= 0 && area < (1 << 16) ? static_cast<jint>(area + 1) : 1;
    case 2: return area > 0 && area <= (1 << 16) ? static_cast<jint>(area - 1) : 0;
    default: return input.ConsumeIntegralInRange(0, 4096);
    }
}

bool sameScreenState(const dummy::ScreenState& a, const dummy::ScreenState& b) {
    return a.screenDCs == b.screenDCs && a.memoryDCs == b.memoryDCs && a.bitmaps == b.bitmaps &&
           a.selections == b.selections;
}

void grab(FuzzedDataProvider& input, const Screen& screen) {
    jint x = anyInt(input, -64, 112), y = anyInt(input, -64, 112);
    jint width = anyInt(input, -4, 80), height = anyInt(input, -4, 80);
    if (width == 0 || height == 0) {
        width = std::min(width, kLongestEmptySide);
        height = std::min(height, kLongestEmptySide);
    }
    const int64_t area = int64_t{width} * height;
    const jint length = arrayLength(input, area);
    const bool nullArray = input.ConsumeIntegralInRange(0, 15) == 0;

    FakeJni vm;
    jintArray pixels = nullArray ? nullptr : vm.newIntArray(length, kFill);
    const dummy::ScreenState before = dummy::screen_state();
    const int allocations = dummy::kernel_state().allocations;
    Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(vm.env(), nullptr, pixels, x, y, width, height);
    const dummy::ScreenState after = dummy::screen_state();

    FUZZ_REQUIRE(vm.violations() == 0, vm.firstViolation());
    FUZZ_REQUIRE(sameScreenState(before, after), "a context or bitmap was not given back");
    FUZZ_REQUIRE(dummy::kernel_state().allocations == allocations, "global memory leaked");
    if (nullArray) return;
    const jint* out = vm.ints(pixels);
    if (width < 0 || height < 0 || area != length) {
        FUZZ_REQUIRE(after.bitBlts == before.bitBlts, "the screen was read for a mismatched array");
        for (jint i = 0; i < length; ++i) FUZZ_REQUIRE(out[i] == kFill, "a mismatched array was written");
        return;
    }
    for (jint r = 0; r < height; ++r)
        for (jint c = 0; c < width; ++c) {
            uint32_t expected = screen.at(int64_t{x} + c, int64_t{y} + r);
            FUZZ_REQUIRE(static_cast<uint32_t>(out[r * width + c]) == expected, "a pixel differs from the screen");
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const Screen screen = paintScreen(input);
    for (int i = 0; i < kMaxGrabs && input.remaining_bytes() > 0; ++i) grab(input, screen);
    return 0;
}
