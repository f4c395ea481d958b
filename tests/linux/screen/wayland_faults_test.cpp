// Faults of a Wayland desktop, each in a desktop of its own (wayland_suite.sh): the grab gives
// zeros (there is no X server to fall back on), never hangs, and a session that cannot be had
// is not asked for on every grab.
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "screen/portal/portal_screen.h"
#include "screen/portal/restore_token.h"
#include "screen_test_support.h"
#include "stub_portal.h"
#include "wayland_desktop.h"

namespace {

using namespace wayland;

class WaylandFaults : public ScreenTest {
protected:
    std::vector<uint32_t> zeros(size_t count) { return std::vector<uint32_t>(count, 0); }

    // Grabs many times, each all zeros, having begun one session, and another only for each
    // retry_after_ms the grabs took (under ASan on a busy machine, 50 grabs can take longer).
    void expectZerosFromOneAttempt() {
        const DWORD start = GetTickCount();
        for (int i = 0; i < 50; ++i) ASSERT_EQ(grabbed(0, 0, width, height), zeros(width * height)) << "grab " << i;
        const DWORD took = GetTickCount() - start;
        const int sessions = host::screen_census().portal_sessions;
        EXPECT_GE(sessions, 1);
        EXPECT_LE(sessions, 1 + int(took / portal::retry_after_ms)) << "50 grabs in " << took << " ms";
        expectEverythingReleased();
    }
};

TEST_F(WaylandFaults, NoPortalOnTheBus) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    expectZerosFromOneAttempt();
}

// devices.sh --screencast none: the portal runs, with no ScreenCast backend.
TEST_F(WaylandFaults, APortalWithoutScreenCast) { expectZerosFromOneAttempt(); }

// devices.sh --screencast decline: the portal's chooser picks nothing, as a user who cancels.
// The user is not asked again, not even once a failed session would be tried again.
TEST_F(WaylandFaults, TheUserDeclines) {
    expectZerosFromOneAttempt();
    Sleep(portal::retry_after_ms + 1000);
    EXPECT_EQ(grabbed(0, 0, 16, 16), zeros(16 * 16));
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
}

TEST_F(WaylandFaults, TheCompositorGoingAway) {
    const std::vector<uint32_t> last(width * height, first_colour);
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == last; }));
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

// A restore token that is no token (not text; the file is the user's to spoil) is not handed
// to the bus, whose library ends the process on a string that is not UTF-8: the user is asked
// as without one, and the portal's next token takes its place, readable by the user alone.
TEST_F(WaylandFaults, AGarbledRestoreToken) {
    const std::string file = portal::restore_token_file();
    const std::string folder = file.substr(0, file.rfind('/'));
    mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    std::ofstream(file) << "restore\xff\xfe\x01token\n";
    chmod(file.c_str(), 0600);
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == std::vector<uint32_t>(width * height, first_colour); }));
    }
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
    std::string token;
    std::ifstream(file) >> token;
    EXPECT_TRUE(!token.empty() && token.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos)
        << "the portal's own token: " << token;
    struct stat kept = {};
    ASSERT_EQ(stat(file.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_mode & 0777, 0600u) << "the token lets this user's programs share the screen unasked";
    expectEverythingReleased();
}

// A peer of the desktop's bus that answers each of our requests before the portal can, over and
// over, by name and to whoever listens, with refusals and handles that are no object paths: the
// portal's own session starts all the same.
TEST_F(WaylandFaults, AForgerOnTheBusChangesNothing) {
    Forger forger(std::getenv("DBUS_SESSION_BUS_ADDRESS"), 5);
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == std::vector<uint32_t>(width * height, first_colour); }));
    }
    EXPECT_GT(forger.sent(), 0);
    EXPECT_EQ(host::screen_census().portal_sessions, 1);
    expectEverythingReleased();
}

// The output's new size reaches the cast, or xdg-desktop-portal-wlr 0.7.0 pauses the cast and
// the session ends a second later. Each grab meanwhile gives the output's colour where a frame
// lies and zeros elsewhere, at once, and sessions are not asked for on every grab.
TEST_F(WaylandFaults, TheOutputChangingSize) {
    const std::vector<uint32_t> last(width * height, first_colour);
    {
        RepaintWhileOpening nudge(first_colour);
        ASSERT_TRUE(eventually([&] { return grabbed(0, 0, width, height) == last; }));
    }
    ASSERT_TRUE(sway("output HEADLESS-1 resolution 800x600"));
    for (DWORD start = GetTickCount(); GetTickCount() - start < 3000; Sleep(20)) {
        std::vector<uint32_t> got = grabbed(0, 0, width, height);
        ASSERT_TRUE(std::all_of(got.begin(), got.end(),
                                [](uint32_t p) { return p == first_colour || p == sway_grey || p == 0; }));
    }
    EXPECT_LE(host::screen_census().portal_sessions, 2);
    expectEverythingReleased();
}

}  // namespace
