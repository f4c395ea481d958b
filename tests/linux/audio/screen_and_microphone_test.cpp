// Sharing the screen while recording, in one process, as a content-sharing client does: on X11,
// and on a Wayland desktop through the compositor's screencopy or the portal's screen cast, which
// joins the same PipeWire graph as the microphone when PipeWire serves it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"
#include "recording_fixture.h"
#include "tone_breaks.h"
#include "x_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr jint kWidth = 640, kHeight = 480;
// The colour of the desktop of tests/env/devices.sh --wayland '#ff8000', and the one painted on
// X11, where a blank screen would look like a failed grab.
constexpr uint32_t kShown = 0xff8000;
constexpr jint kUntouched = 0x5A5A5A5A;

class ScreenAndMicrophone : public RecordingTest {};

TEST_F(ScreenAndMicrophone, RecordWhileTheScreenIsGrabbed) {
    std::unique_ptr<XServer> x;
    if (!std::getenv("WAYLAND_DISPLAY")) {
        x = std::make_unique<XServer>(kWidth, kHeight, 24);
        ASSERT_FALSE(x->name().empty()) << "no X server";
        setenv("DISPLAY", x->name().c_str(), 1);
        x->draw(std::vector<uint32_t>(kWidth * kHeight, kShown).data(), 4);
    }
    Format f{8000, 1, 16};
    jint handle = open(f, 1600);
    ASSERT_NE(handle, 0);
    std::atomic<bool> recording{true};
    std::vector<Clock::time_point> shown;  // when each grab that showed the screen returned
    std::thread sharer([&] {
        FakeJni own;  // each thread has its JNIEnv
        jintArray pixels = own.newIntArray(kWidth * kHeight);
        while (recording) {
            jint* got = own.ints(pixels);
            std::fill(got, got + kWidth * kHeight, kUntouched);
            Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(own.env(), nullptr, pixels, 0, 0, kWidth,
                                                                                kHeight);
            if (std::all_of(got, got + kWidth * kHeight, [](jint p) { return (p & 0xffffff) == kShown; }))
                shown.push_back(Clock::now());
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        EXPECT_EQ(own.violations(), 0) << own.firstViolation();
    });
    Clock::time_point start = Clock::now();
    std::vector<int> samples = record(handle, f, 1600, 5);
    Clock::time_point end = Clock::now();
    recording = false;
    sharer.join();
    close(handle);
    EXPECT_GE(samples.size(), 5u * 8000 * 95 / 100) << "the recording stalled";
    expectContinuous(samples, 7, 400, 800);
    // The screen was read all along: no second of the recording went without a grab showing it
    // (the first grab on Wayland may take its first-grab time).
    Clock::time_point last = start + std::chrono::seconds(2);
    for (Clock::time_point t : shown) {
        if (t > end) break;
        EXPECT_LE(t - last, std::chrono::seconds(1)) << "no grab showed the screen for a while";
        last = std::max(last, t);
    }
    EXPECT_LE(end - last, std::chrono::seconds(1)) << "the grabs stopped showing the screen";
}

}  // namespace
