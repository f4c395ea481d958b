// nGrabPixels on a headless sway through the compositor's own screencopy, the source chosen
// wherever a compositor offers it: no portal session, no PipeWire, and a still screen read at
// once. wayland_suite.sh runs each group in a desktop of its own.
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "screen/screencopy/screencopy_screen.h"
#include "screen_test_support.h"
#include "wayland_desktop.h"

namespace {

using namespace wayland;

class WaylandScreencopy : public ScreenTest {
protected:
    static std::vector<uint32_t> filled(uint32_t rgb, int w = width, int h = height) {
        return std::vector<uint32_t>(size_t(w) * h, rgb);
    }

    // grim's picture of the output, once it shows `rgb` all over: the desktop is then still.
    static bool compositor_shows(uint32_t rgb, const char* output = "HEADLESS-1", const char* scale = "1") {
        return eventually([&] {
            int w = 0, h = 0;
            std::vector<uint32_t> theirs = screenshot(scale, w, h, output);
            return !theirs.empty() && theirs == filled(rgb, w, h);
        }, 15);
    }

    // One grab of the whole output, timed.
    std::vector<uint32_t> timed_grab(DWORD& took) {
        const DWORD start = GetTickCount();
        std::vector<uint32_t> pixels = grabbed(0, 0, width, height);
        took = GetTickCount() - start;
        return pixels;
    }
};

// Nothing on the desktop changes after it shows its colour. A second process and then this one,
// each with a connection of its own, read it with their first grab, well within the bound a
// portal session's first frame has; neither opens a portal session.
TEST_F(WaylandScreencopy, AStillScreenReadsAtOnceInEveryProcess) {
    ASSERT_TRUE(compositor_shows(first_colour));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DWORD took = 0;
        const bool read = timed_grab(took) == filled(first_colour) && took < screencopy::compositor_answer_ms;
        std::printf("the other process's first grab of the still screen: %u ms\n", unsigned(took));
        std::fflush(stdout);
        _exit(read && host::screen_census().portal_sessions == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process's first grab";

    DWORD took = 0;
    EXPECT_EQ(timed_grab(took), filled(first_colour));
    EXPECT_LT(took, screencopy::compositor_answer_ms);
    std::printf("this process's first grab of the still screen: %u ms\n", unsigned(took));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(grabbed(0, 0, width, height), filled(first_colour)) << "grab " << i;
    EXPECT_EQ(host::screen_census().portal_sessions, 0);
    EXPECT_LE(host::screen_census().screencopy_copies, 2) << "a still screen is not copied for each grab";
    EXPECT_EQ(host::screen_census().displays, 0);
    expectEverythingReleased();
}

// Two outputs side by side, the left one at scale 2: each lies where the compositor shows it,
// in physical pixels, and its region equals that output's own picture.
TEST_F(WaylandScreencopy, OutputsOfMixedScalesLieEdgeToEdge) {
    ASSERT_TRUE(show_colour(first_colour));
    ASSERT_TRUE(sway("create_output"));
    ASSERT_TRUE(sway("output HEADLESS-2 resolution 640x480 scale 2 position 0 0 bg '#0000ff' solid_color"));
    ASSERT_TRUE(sway("output HEADLESS-1 position 320 0"));
    ASSERT_TRUE(compositor_shows(0x0000FF, "HEADLESS-2", "2"));
    ASSERT_TRUE(compositor_shows(first_colour));
    const int w = 640 + width;
    std::vector<uint32_t> expected;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < w; ++c) expected.push_back(c >= 640 ? first_colour : r < 480 ? 0x0000FFu : 0u);
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, w, height) == expected; }));
    EXPECT_EQ(grabbed(600, 400, 80, 120), [&] {
        std::vector<uint32_t> part;
        for (int r = 400; r < 520; ++r) part.insert(part.end(), &expected[size_t(r) * w + 600], &expected[size_t(r) * w + 680]);
        return part;
    }()) << "across both outputs and below the smaller one";
    expectEverythingReleased();
}

// Each of the eight ways an output can be turned or flipped: the grab shows the output as it
// stands, equal to grim's picture of it pixel for pixel.
TEST_F(WaylandScreencopy, TurnedOutputsEqualTheCompositorsOwnPicture) {
    ASSERT_TRUE(show_picture());
    for (const char* turn : {"90", "180", "270", "flipped", "flipped-90", "flipped-180", "flipped-270", "normal"}) {
        ASSERT_TRUE(sway(std::string("output HEADLESS-1 transform ") + turn));
        const bool sideways = std::strstr(turn, "90") || std::strstr(turn, "270");
        const int w = sideways ? height : width, h = sideways ? width : height;
        std::vector<uint32_t> theirs;
        int grim_w = 0, grim_h = 0;
        EXPECT_TRUE(eventually([&] {
            theirs = screenshot("1", grim_w, grim_h);
            return grim_w == w && grim_h == h && grabbed(0, 0, w, h) == theirs;
        }, 10)) << turn << ": grim gave " << grim_w << "x" << grim_h;
    }
    expectEverythingReleased();
}

// A compositor that stops answering: grabs go on with the pictures it last sent, at once, and
// see its changes again once it answers.
TEST_F(WaylandScreencopy, AStalledCompositorHoldsNoGrab) {
    ASSERT_TRUE(compositor_shows(first_colour));
    ASSERT_EQ(grabbed(0, 0, width, height), filled(first_colour));
    const int sway = environment_pid("sway");
    ASSERT_GT(sway, 0);
    ASSERT_EQ(kill(sway, SIGSTOP), 0);
    DWORD took = 0;
    const std::vector<uint32_t> stopped = timed_grab(took);
    kill(sway, SIGCONT);
    EXPECT_EQ(stopped, filled(first_colour));
    EXPECT_LT(took, screencopy::compositor_answer_ms);
    ASSERT_TRUE(show_colour(0x00FF00));
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == filled(0x00FF00); }));
    EXPECT_EQ(host::screen_census().portal_sessions, 0);
    expectEverythingReleased();
}

// Last: the compositor goes away. Grabs give zeros, and no connection is tried on each grab.
TEST_F(WaylandScreencopy, TheCompositorGoingAway) {
    ASSERT_TRUE(show_colour(first_colour) && compositor_shows(first_colour));
    ASSERT_EQ(grabbed(0, 0, width, height), filled(first_colour));
    const int sway = environment_pid("sway");
    ASSERT_GT(sway, 0);
    const int copied = host::screen_census().screencopy_copies;
    ASSERT_EQ(kill(sway, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == filled(0); }));
    const DWORD start = GetTickCount();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(grabbed(0, 0, 16, 16), filled(0, 16, 16));
    EXPECT_EQ(host::screen_census().screencopy_copies, copied);
    EXPECT_LT(GetTickCount() - start, 30000u) << "bounded, whatever the fallback sources do";
    expectEverythingReleased();
}

}  // namespace
