// nGrabPixels through its export, on the simulated screen, with a fake JNIEnv.
#include <gtest/gtest.h>

#include <control.h>
#include <fake_jni.h>

#include <thread>
#include <vector>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"

namespace {

const jint untouched = 0x5A5A5A5A;

class GrabPixels : public ::testing::Test {
protected:
    void SetUp() override {
        dummy::reset();
        screenBefore = dummy::screen_state();
        kernelBefore = dummy::kernel_state();
    }

    void grab(jintArray pixels, jint x, jint y, jint width, jint height) {
        Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(jni.env(), nullptr, pixels, x, y, width, height);
    }

    std::vector<jint> contents(jintArray array, size_t length) {
        const jint* ints = jni.ints(array);
        return std::vector<jint>(ints, ints + length);
    }

    void expectEverythingReleased() {
        dummy::ScreenState now = dummy::screen_state();
        EXPECT_EQ(now.screenDCs, screenBefore.screenDCs);
        EXPECT_EQ(now.memoryDCs, screenBefore.memoryDCs);
        EXPECT_EQ(now.bitmaps, screenBefore.bitmaps);
        EXPECT_EQ(now.selections, screenBefore.selections);
        EXPECT_EQ(dummy::kernel_state().allocations, kernelBefore.allocations);
        EXPECT_EQ(jni.violations(), 0) << jni.firstViolation();
    }

    void expectNotRead(jintArray array, size_t length) {
        EXPECT_EQ(contents(array, length), std::vector<jint>(length, untouched));
        EXPECT_EQ(dummy::screen_state().bitBlts, 0);
        EXPECT_EQ(dummy::screen_state().getDIBits, 0);
        expectEverythingReleased();
    }

    FakeJni jni;
    dummy::ScreenState screenBefore{};
    dummy::KernelState kernelBefore{};
};

TEST_F(GrabPixels, ReadsTheScreenRowByRowFromTheTopLeft) {
    // Distinct pixels, with colours and high bytes that a swapped channel or a mask would change.
    const int width = 5, height = 3;
    std::vector<uint32_t> screen(width * height);
    for (size_t i = 0; i < screen.size(); ++i) screen[i] = 0xC0000000u | static_cast<uint32_t>(i) << 16 | 0x80u << 8 | (0x10u + i);
    dummy::screen_set(width, height, screen.data());
    jintArray pixels = jni.newIntArray(width * height, untouched);

    grab(pixels, 0, 0, width, height);

    const jint* got = jni.ints(pixels);
    EXPECT_EQ(static_cast<uint32_t>(got[0]), screen[0]);
    EXPECT_EQ(got[0] & 0xFF, 0x10) << "blue belongs in the low byte";
    EXPECT_EQ(static_cast<uint32_t>(got[width]), screen[width]) << "element width starts row two";
    EXPECT_EQ(contents(pixels, screen.size()), std::vector<jint>(screen.begin(), screen.end()));
    expectEverythingReleased();
}

TEST_F(GrabPixels, CopiesAnInnerRectangle) {
    const int x = 300, y = 200, width = 17, height = 9;
    jintArray pixels = jni.newIntArray(width * height, untouched);

    grab(pixels, x, y, width, height);

    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            ASSERT_EQ(static_cast<uint32_t>(jni.ints(pixels)[r * width + c]), dummy::screen_default_pixel(x + c, y + r));
    expectEverythingReleased();
}

TEST_F(GrabPixels, LeavesZerosWhereTheRectangleLeavesTheScreen) {
    const uint32_t screen[] = {1, 2, 3, 4, 5, 6};  // 3 x 2
    dummy::screen_set(3, 2, screen);
    jintArray pixels = jni.newIntArray(9, untouched);

    grab(pixels, -1, 1, 3, 3);

    EXPECT_EQ(contents(pixels, 9), (std::vector<jint>{0, 4, 5, 0, 0, 0, 0, 0, 0}));
    expectEverythingReleased();
}

TEST_F(GrabPixels, RefusesAnArrayOfAnyOtherLength) {
    for (jsize length : {11, 13}) {
        jintArray pixels = jni.newIntArray(length, untouched);
        grab(pixels, 0, 0, 3, 4);
        expectNotRead(pixels, length);
    }
}

TEST_F(GrabPixels, RefusesSizesWhoseProductOnlyMatchesWhenItWraps) {
    jintArray one = jni.newIntArray(1, untouched);
    grab(one, 0, 0, -1, -1);
    grab(one, 0, 0, -1, 5);
    grab(one, 0, 0, 1, -1);
    expectNotRead(one, 1);

    jintArray wrapped = jni.newIntArray(65536, untouched);  // 65536 x 65537 wraps to 65536
    grab(wrapped, 0, 0, 65536, 65537);
    grab(wrapped, 0, 0, 65537, 65536);
    expectNotRead(wrapped, 65536);
}

TEST_F(GrabPixels, NullArrayNeverReachesTheVm) {
    grab(nullptr, 0, 0, 2, 2);
    EXPECT_EQ(jni.vmCalls(), 0);
    expectEverythingReleased();
}

TEST_F(GrabPixels, EmptyPictureGoesThroughAndWritesNothing) {
    grab(jni.newIntArray(0), 10, 10, 0, 0);
    expectEverythingReleased();
}

TEST_F(GrabPixels, ReleasesEverythingWhenTheSystemFails) {
    for (dummy::Call call : {dummy::Call::GetWindowDC, dummy::Call::CreateCompatibleDC,
                             dummy::Call::CreateCompatibleBitmap, dummy::Call::SelectObject,
                             dummy::Call::BitBlt, dummy::Call::GetDIBits}) {
        SCOPED_TRACE(static_cast<int>(call));
        dummy::fail(call);
        jintArray pixels = jni.newIntArray(6, untouched);
        grab(pixels, 5, 5, 3, 2);
        // Nothing could be read, and what was not read is zero.
        EXPECT_EQ(contents(pixels, 6), std::vector<jint>(6, 0));
        expectEverythingReleased();
    }
}

TEST_F(GrabPixels, WithoutScratchMemoryLeavesTheArrayAlone) {
    dummy::fail(dummy::Call::GlobalAlloc);
    jintArray pixels = jni.newIntArray(6, untouched);
    grab(pixels, 5, 5, 3, 2);
    EXPECT_EQ(contents(pixels, 6), std::vector<jint>(6, untouched));
    expectEverythingReleased();
}

TEST_F(GrabPixels, ThreadsGrabAtOnce) {
    const int threads = 4, rounds = 50, width = 31, height = 7;
    std::vector<jintArray> arrays;
    for (int t = 0; t < threads; ++t) arrays.push_back(jni.newIntArray(width * height, untouched));
    std::vector<std::thread> grabbers;
    for (int t = 0; t < threads; ++t)
        grabbers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) grab(arrays[t], 40 * t, 3 * t, width, height);
        });
    for (std::thread& grabber : grabbers) grabber.join();

    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < width * height; ++i)
            ASSERT_EQ(static_cast<uint32_t>(jni.ints(arrays[t])[i]), dummy::screen_default_pixel(40 * t + i % width, 3 * t + i / width));
    expectEverythingReleased();
}

}  // namespace
