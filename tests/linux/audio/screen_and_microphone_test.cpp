// Sharing the screen while recording, in one process, as a content-sharing client does: on X11,
// and on a Wayland desktop through the compositor's screencopy or the portal's screen cast, which
// joins the same PipeWire graph as the microphone when PipeWire serves it.
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"
#include "recording_fixture.h"
#include "tone_breaks.h"

namespace {

constexpr jint kWidth = 640, kHeight = 480;
// The colour of the desktop of tests/env/devices.sh --wayland '#ff8000'.
constexpr jint kWaylandDesktop = 0xff8000;

class ScreenAndMicrophone : public RecordingTest {};

TEST_F(ScreenAndMicrophone, RecordWhileTheScreenIsGrabbed) {
    const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    Format f{8000, 1, 16};
    jint handle = open(f, 1600);
    ASSERT_NE(handle, 0);
    std::atomic<bool> recording{true};
    int grabs = 0, shown = 0;
    std::thread sharer([&] {
        FakeJni own;  // each thread has its JNIEnv
        jintArray pixels = own.newIntArray(kWidth * kHeight, 0);
        while (recording) {
            Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(own.env(), nullptr, pixels, 0, 0, kWidth,
                                                                                kHeight);
            ++grabs;
            const jint* got = own.ints(pixels);
            shown += (got[0] & 0xffffff) == kWaylandDesktop && (got[kWidth * kHeight - 1] & 0xffffff) == kWaylandDesktop;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        EXPECT_EQ(own.violations(), 0) << own.firstViolation();
    });
    std::vector<int> samples = record(handle, f, 1600, 5);
    recording = false;
    sharer.join();
    close(handle);
    EXPECT_GE(samples.size(), 5u * 8000 * 95 / 100) << "the recording stalled";
    expectContinuous(samples, 7, 400, 800);
    // Grabs come through the whole recording: 6.5 s at most every 30 ms, at least one a second.
    EXPECT_GE(grabs, 6);
    if (wayland) {
        EXPECT_GT(shown, 0) << "no grab showed the desktop";
    }
}

}  // namespace
