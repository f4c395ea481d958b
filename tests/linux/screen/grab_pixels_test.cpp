// nGrabPixels through its export on a private Xvfb that shows a known picture, read with
// MIT-SHM and, on a server without it, with a plain GetImage.
#include <fstream>
#include <memory>
#include <string>

#include "screen_test_support.h"

namespace {

struct Server {
    const char* label;
    bool shm;
};

class GrabFromXvfb : public ScreenTest, public ::testing::WithParamInterface<Server> {
protected:
    static constexpr int width = 640, height = 480;

    // One server of each kind for the whole run, the picture drawn once.
    static XServer& server(bool shm) {
        static std::unique_ptr<XServer> servers[2];
        std::unique_ptr<XServer>& slot = servers[shm];
        if (!slot) {
            slot = std::make_unique<XServer>(width, height, 24, shm ? std::vector<std::string>{}
                                                                    : std::vector<std::string>{"-extension", "MIT-SHM"});
            if (!slot->name().empty()) slot->draw(picture(width, height).data(), 4);
        }
        return *slot;
    }

    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_FALSE(server(GetParam().shm).name().empty()) << "Xvfb did not start";
        use_display(server(GetParam().shm).name());
    }

    // The picture where the rectangle lies on the screen, black where it does not.
    static std::vector<uint32_t> expected(int x, int y, int w, int h) {
        std::vector<uint32_t> pixels;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                int64_t sx = int64_t{x} + c, sy = int64_t{y} + r;
                bool on = sx >= 0 && sy >= 0 && sx < width && sy < height;
                pixels.push_back(on ? picture_pixel(static_cast<int>(sx), static_cast<int>(sy)) & 0x00FFFFFF : 0);
            }
        return pixels;
    }

    void expectReadBy(const host::ScreenCensus& before, int reads) {
        host::ScreenCensus now = host::screen_census();
        EXPECT_EQ(now.shm_reads - before.shm_reads, GetParam().shm ? reads : 0);
        EXPECT_EQ(now.plain_reads - before.plain_reads, GetParam().shm ? 0 : reads);
    }
};

TEST_P(GrabFromXvfb, ReadsTheWholeScreenPixelExact) {
    std::vector<uint32_t> got = grabbed(0, 0, width, height);

    EXPECT_EQ(got[1], 0x000001u) << "blue in the low byte, the unused byte cleared";
    EXPECT_EQ(got[width], 0x001000u) << "rows from the top";
    EXPECT_EQ(got, expected(0, 0, width, height));
    expectReadBy(screenBefore, 1);
    expectEverythingReleased();
}

TEST_P(GrabFromXvfb, ReadsAnInnerRectangle) {
    EXPECT_EQ(grabbed(101, 57, 33, 19), expected(101, 57, 33, 19));
    EXPECT_EQ(grabbed(width - 1, height - 1, 1, 1), expected(width - 1, height - 1, 1, 1));
    expectEverythingReleased();
}

TEST_P(GrabFromXvfb, LeavesBlackWhereTheRectangleLeavesTheScreen) {
    // Past every edge at once, past each edge alone, and wholly beside the screen.
    const int rectangles[][4] = {{-3, -2, width + 7, height + 5}, {-5, 10, 20, 8}, {10, -5, 8, 20},
                                 {width - 4, 10, 20, 8}, {10, height - 3, 8, 20}, {width, 0, 10, 10},
                                 {-10, -10, 10, 10}, {INT32_MIN, INT32_MAX, 4, 4}};
    for (const auto& r : rectangles)
        EXPECT_EQ(grabbed(r[0], r[1], r[2], r[3]), expected(r[0], r[1], r[2], r[3]))
            << r[0] << "," << r[1] << " " << r[2] << "x" << r[3];
    expectReadBy(screenBefore, 5);  // the last three cover no screen pixel: nothing is asked
    expectEverythingReleased();
}

TEST_P(GrabFromXvfb, SeveralThreadsGrabAtOnce) {
    expectGrabsFromSeveralThreads(100, 50, expected);
    expectReadBy(screenBefore, 4 * 25);
    expectEverythingReleased();
}

TEST_P(GrabFromXvfb, RepeatedGrabsKeepOneConnection) {
    for (int i = 0; i < 50; ++i) grabbed(i, i, width - 2 * i, height - 2 * i);
    EXPECT_EQ(host::screen_census().displays, 1);
    expectEverythingReleased();
}

// Resident memory in KiB, from /proc.
long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return -1;
}

TEST_P(GrabFromXvfb, AThousandWholeScreenGrabsTakeNoMoreThanTwoScreensOfMemory) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer keeps freed memory resident in its quarantine";
#endif
    XServer large(1920, 1080, 24, GetParam().shm ? std::vector<std::string>{} : std::vector<std::string>{"-extension", "MIT-SHM"});
    ASSERT_FALSE(large.name().empty());
    use_display(large.name());
    jintArray pixels = jni.newIntArray(1920 * 1080, untouched);
    grab(pixels, 0, 0, 1920, 1080);
    const long first = resident_kib();
    for (int i = 0; i < 1000; ++i) grab(pixels, 0, 0, 1920, 1080);
    EXPECT_LE(resident_kib() - first, 2 * 1920 * 1080 * 4 / 1024);
    EXPECT_EQ(jni.ints(pixels)[0], 0) << "a blank screen";
    expectEverythingReleased();
}

INSTANTIATE_TEST_SUITE_P(Servers, GrabFromXvfb, ::testing::Values(Server{"MitShm", true}, Server{"PlainGetImage", false}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
