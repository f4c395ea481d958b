// Faults of a Wayland desktop, each in a desktop of its own (wayland_suite.sh): the grab gives
// zeros (there is no X server to fall back on), never hangs, and a session that cannot be had
// is not asked for on every grab.
#include <csignal>

#include "screen_test_support.h"
#include "wayland_desktop.h"

namespace {

using namespace wayland;

class WaylandFaults : public ScreenTest {
protected:
    std::vector<uint32_t> zeros(size_t count) { return std::vector<uint32_t>(count, 0); }

    // Grabs many times, each all zeros, having begun at most one session.
    void expectZerosFromOneAttempt() {
        for (int i = 0; i < 50; ++i) ASSERT_EQ(grabbed(0, 0, width, height), zeros(width * height)) << "grab " << i;
        EXPECT_EQ(host::screen_census().portal_sessions, 1);
        expectEverythingReleased();
    }
};

TEST_F(WaylandFaults, NoPortalOnTheBus) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    expectZerosFromOneAttempt();
}

// devices.sh --no-screencast: the portal runs, with no ScreenCast backend.
TEST_F(WaylandFaults, APortalWithoutScreenCast) { expectZerosFromOneAttempt(); }

// devices.sh --decline: the portal's chooser picks nothing, as a user who cancels.
TEST_F(WaylandFaults, TheUserDeclines) { expectZerosFromOneAttempt(); }

TEST_F(WaylandFaults, TheCompositorGoingAway) {
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_EQ(grabbed(0, 0, width, height), std::vector<uint32_t>(width * height, first_colour));
    }
    const int sway = environment_pid("sway");
    ASSERT_GT(sway, 0);
    ASSERT_EQ(kill(sway, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == zeros(width * height); }));
    const int sessions = host::screen_census().portal_sessions;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(grabbed(0, 0, 16, 16), zeros(16 * 16));
    EXPECT_LE(host::screen_census().portal_sessions, sessions + 1);
    expectEverythingReleased();
}

}  // namespace
