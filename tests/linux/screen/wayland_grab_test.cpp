// nGrabPixels through its export on a headless Wayland desktop with no X server: the screen
// comes through the desktop portal's ScreenCast and PipeWire. One session serves the whole
// process, as it does a client; tests/linux/screen/wayland_suite.sh runs each group in a
// desktop of its own.
#include <sys/wait.h>

#include <algorithm>

#include "screen/monitor_frames.h"
#include "screen_test_support.h"
#include "wayland_desktop.h"

namespace {

using namespace wayland;

class WaylandGrab : public ScreenTest {
protected:
    std::vector<uint32_t> expected_colour(uint32_t rgb, int x, int y, int w, int h, int out_w = width, int out_h = height) {
        std::vector<uint32_t> pixels;
        for (int64_t r = y; r < int64_t{y} + h; ++r)
            for (int64_t c = x; c < int64_t{x} + w; ++c)
                pixels.push_back(c >= 0 && r >= 0 && c < out_w && r < out_h ? rgb : 0);
        return pixels;
    }

    std::vector<uint32_t> expected_picture(int x, int y, int w, int h) {
        std::vector<uint32_t> pixels;
        for (int64_t r = y; r < int64_t{y} + h; ++r)
            for (int64_t c = x; c < int64_t{x} + w; ++c)
                pixels.push_back(c >= 0 && r >= 0 && c < width && r < height ? wayland::picture_pixel(int(c), int(r)) : 0);
        return pixels;
    }

    bool shows_colour(uint32_t rgb) { return grabbed(0, 0, width, height) == expected_colour(rgb, 0, 0, width, height); }

    // The picture, seen whole. A picture already on the output would pass for the new one while
    // swaybg starts over (sway's grey comes first): a colour goes between them.
    bool shows_picture() {
        return show_colour(0x000001) && eventually([&] { return shows_colour(0x000001); }, 10, [] { show_colour(0x000001); }) &&
               show_picture() &&
               eventually([&] { return grabbed(0, 0, width, height) == expected_picture(0, 0, width, height); }, 10,
                          [] { show_picture(); });
    }
};

// The first grab opens the session and waits for its first frame. (The repainting that works
// round the portal backend's lost frames may show sway's grey for a frame: any frame will do,
// zeros would mean the grab did not wait.)
TEST_F(WaylandGrab, TheFirstGrabWaitsForTheFirstFrame) {
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "no X server here";
    {
        RepaintWhileOpening nudge(first_colour);
        EXPECT_NE(grabbed(0, 0, width, height), expected_colour(0, 0, 0, width, height));
        EXPECT_TRUE(eventually([&] { return shows_colour(first_colour); })) << "pixel-exact";
    }
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
    EXPECT_EQ(host::screen_census().displays, 0);
    std::string token;
    std::ifstream(std::string(std::getenv("HOME")) + "/.cache/orvanta/screencast-restore-token") >> token;
    EXPECT_FALSE(token.empty()) << "the portal's restore token is kept for the next session";
    expectEverythingReleased();
}

// The first test's repainting can leave sway's grey as the last frame for a moment (swaybg
// restarting): once the colour is shown, every grab shows it.
TEST_F(WaylandGrab, AStillScreenKeepsItsLastFrame) {
    ASSERT_TRUE(eventually([&] { return shows_colour(first_colour); }, 10, [] { show_colour(first_colour); }));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(grabbed(0, 0, width, height), expected_colour(first_colour, 0, 0, width, height));
    EXPECT_EQ(host::screen_census().portal_sessions, 1) << "one session serves every grab";
}

TEST_F(WaylandGrab, ReadsAKnownPictureAtItsOffsets) {
    ASSERT_TRUE(shows_picture()) << "the whole output";
    EXPECT_EQ(grabbed(101, 57, 33, 19), expected_picture(101, 57, 33, 19));
    EXPECT_EQ(grabbed(width - 1, height - 1, 1, 1), expected_picture(width - 1, height - 1, 1, 1));
    EXPECT_EQ(grabbed(700, 300, 256, 300), expected_picture(700, 300, 256, 300));
    expectEverythingReleased();
}

TEST_F(WaylandGrab, LeavesBlackWhereTheRectangleLeavesTheOutput) {
    ASSERT_TRUE(shows_picture());
    const int rectangles[][4] = {{-3, -2, width + 7, height + 5}, {-5, 10, 20, 8}, {10, -5, 8, 20},
                                 {width - 4, 10, 20, 8}, {10, height - 3, 8, 20}, {width, 0, 10, 10},
                                 {-10, -10, 10, 10}, {INT32_MIN, INT32_MAX, 4, 4}, {INT32_MAX - 2, 0, 4, 4}};
    for (const auto& r : rectangles)
        EXPECT_EQ(grabbed(r[0], r[1], r[2], r[3]), expected_picture(r[0], r[1], r[2], r[3]))
            << r[0] << "," << r[1] << " " << r[2] << "x" << r[3];
    expectEverythingReleased();
}

TEST_F(WaylandGrab, TheNextGrabsSeeAChange) {
    for (uint32_t colour : {0x00FF00u, 0x123456u, 0xFFFFFFu}) {
        ASSERT_TRUE(show_colour(colour));
        EXPECT_TRUE(eventually([&] { return shows_colour(colour); }, 10, [&] { show_colour(colour); })) << colour_name(colour);
    }
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
}

TEST_F(WaylandGrab, SeveralThreadsGrabAtOnce) {
    ASSERT_TRUE(shows_picture());
    expectGrabsFromSeveralThreads(300, 150, [&](int x, int y, int w, int h) { return expected_picture(x, y, w, h); });
    expectEverythingReleased();
}

using WaylandTwoOutputs = WaylandGrab;

// A second output beside the one the portal casts. xdg-desktop-portal-wlr 0.7.0 casts the one
// output it is set to, and reports it at (0, 0) wherever it lies: the grab shows it there, and
// black where no cast lies.
TEST_F(WaylandTwoOutputs, ShowTheCastWhereThePortalPlacesIt) {
    ASSERT_TRUE(sway("create_output"));
    ASSERT_TRUE(sway("output HEADLESS-2 resolution 640x480 position 0 0 bg '#0000ff' solid_color"));
    ASSERT_TRUE(sway("output HEADLESS-1 position 640 0"));
    const std::vector<uint32_t> expected = expected_colour(first_colour, 0, 0, width + 640, height);
    RepaintWhileOpening nudge(first_colour);
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, width + 640, height) == expected; }));
    expectEverythingReleased();
}

using WaylandScaled = WaylandGrab;

// The output at scale 2 (2560x1440 pixels, 1280x720 logical) and 1.5 (1920x1080 pixels, 1280x720
// logical), then 1 again: the grab's rectangle is in physical pixels, and the whole output, a
// corner and a rectangle in it equal grim's picture of the output pixel for pixel.
TEST_F(WaylandScaled, EqualTheCompositorsOwnPictureAtEachScale) {
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_TRUE(eventually([&] { return shows_colour(first_colour); })) << "the session";
    }
    struct Scale {
        int w, h;
        const char* scale;
    };
    for (const Scale& s : {Scale{2560, 1440, "2"}, Scale{1920, 1080, "1.5"}, Scale{1280, 720, "1"}}) {
        ASSERT_TRUE(sway("output HEADLESS-1 resolution " + std::to_string(s.w) + "x" + std::to_string(s.h) + " scale " + s.scale));
        ASSERT_TRUE(show_picture(s.w, s.h, "stretch"));
        std::vector<uint32_t> theirs;
        int w = 0, h = 0;
        // grim's picture is the reference once it has the output's size and the picture is on
        // it (swaybg first shows a plain colour); ours must equal that same picture.
        const bool same = eventually(
            [&] {
                theirs = screenshot(s.scale, w, h);
                if (w != s.w || h != s.h || std::count(theirs.begin(), theirs.end(), theirs[0]) > w * h / 2) return false;
                return grabbed(0, 0, w, h) == theirs;
            },
            15, [&] { show_picture(s.w, s.h, "stretch"); });
        ASSERT_TRUE(same) << "scale " << s.scale << ": grim gave " << w << "x" << h;
        auto region = [&](int x, int y, int rw, int rh) {
            std::vector<uint32_t> pixels;
            for (int r = y; r < y + rh; ++r) pixels.insert(pixels.end(), &theirs[r * w + x], &theirs[r * w + x] + rw);
            return pixels;
        };
        EXPECT_EQ(grabbed(0, 0, 1280, 720), region(0, 0, 1280, 720)) << "the logical size is a corner, scale " << s.scale;
        EXPECT_EQ(grabbed(w - 300, h - 200, 300, 200), region(w - 300, h - 200, 300, 200)) << "scale " << s.scale;
    }
    expectEverythingReleased();
}

// Monitors placed as the portal reports them, with gaps and overlaps, read from made-up frames.
TEST(MonitorFrames, PlacesEachFrameWhereItsMonitorLies) {
    auto frame = [](int w, int h, uint32_t base) {
        auto f = std::make_shared<screen::Frame>();
        f->width = w;
        f->height = h;
        for (int i = 0; i < w * h; ++i) f->pixels.push_back(base + uint32_t(i));
        return std::shared_ptr<const screen::Frame>(f);
    };
    // Left of the origin, and right of it with a gap of 2 columns and 1 row lower.
    std::vector<screen::Placed> monitors = {{-4, 0, frame(4, 3, 0x100)}, {2, 1, frame(3, 3, 0x200)}};
    auto shot = screen::shoot_frames(monitors, -5, -1, 11, 5);
    ASSERT_EQ(shot->left, 1);
    ASSERT_EQ(shot->top, 1);
    ASSERT_EQ(shot->columns, 9);
    ASSERT_EQ(shot->rows, 4);
    std::vector<std::vector<uint32_t>> rows(4, std::vector<uint32_t>(9, 0xDEADBEEF));
    for (int r = 0; r < 4; ++r) shot->convert_row(r, rows[r].data());
    EXPECT_EQ(rows[0], (std::vector<uint32_t>{0x100, 0x101, 0x102, 0x103, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rows[1], (std::vector<uint32_t>{0x104, 0x105, 0x106, 0x107, 0, 0, 0x200, 0x201, 0x202}));
    EXPECT_EQ(rows[2], (std::vector<uint32_t>{0x108, 0x109, 0x10A, 0x10B, 0, 0, 0x203, 0x204, 0x205}));
    EXPECT_EQ(rows[3], (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0x206, 0x207, 0x208}));

    EXPECT_EQ(screen::shoot_frames(monitors, 10, 10, 4, 4)->rows, 0) << "beside every monitor";
    EXPECT_EQ(screen::shoot_frames(monitors, INT32_MAX, INT32_MAX, 4, 4)->rows, 0);
    EXPECT_EQ(screen::shoot_frames({}, 0, 0, 4, 4)->rows, 0) << "no frame yet";
}

// Last: it ends the desktop's PipeWire. Grabs give zeros at once, and a new session is tried
// at most every few seconds, not on each grab.
TEST_F(WaylandGrab, PipeWireDyingGivesZerosWithoutRetryingEachGrab) {
    ASSERT_TRUE(show_colour(0x996633));
    ASSERT_TRUE(eventually([&] { return shows_colour(0x996633); }));
    const int pipewire = environment_pid("pipewire");
    ASSERT_GT(pipewire, 0);
    ASSERT_EQ(kill(pipewire, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == expected_colour(0, 0, 0, width, height); }));
    const int sessions = host::screen_census().portal_sessions;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(grabbed(0, 0, 16, 16), expected_colour(0, 0, 0, 16, 16));
    EXPECT_LE(host::screen_census().portal_sessions, sessions + 1);
    expectEverythingReleased();
}

}  // namespace
