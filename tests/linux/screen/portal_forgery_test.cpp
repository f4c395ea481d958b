// Any peer on the session bus can send us a Response on the predictable path of our request,
// before the portal does. Only the portal's own answers count: a forged one, sent to us by name
// or to whoever listens, changes nothing (no abort, no "declined", no other screen), and an
// answer of the portal's that is not what it should be fails the session, never the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "screen/portal/portal_session.h"
#include "stub_portal.h"

namespace {

const char* const not_a_path = "not an object path";

class PortalForgery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty()) << "no dbus-daemon";
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
        forger = connect_to(bus.address());
        ASSERT_NE(forger, nullptr);
    }
    void TearDown() override {
        dbus_connection_close(forger);
        dbus_connection_unref(forger);
    }

    // Opens a session against a portal before whose every answer `forge` runs.
    std::unique_ptr<portal::Session> open(const StubPortal::Hook& forge, const Results& handle = nullptr) {
        StubPortal desktop(bus.address(), forge);
        EXPECT_TRUE(desktop.running());
        desktop.session_handle = handle;
        return portal::Session::open(outcome, 10000, 10000);
    }

    void expectThePortalsSession(const std::unique_ptr<portal::Session>& session) {
        EXPECT_EQ(outcome, portal::Outcome::started);
        ASSERT_NE(session, nullptr);
        ASSERT_EQ(session->monitors().size(), 1u);
        const portal::Monitor& shown = session->monitors()[0];
        EXPECT_EQ(shown.node, 42u);
        EXPECT_EQ(shown.x, 0);
        EXPECT_EQ(shown.width, 64);
        EXPECT_EQ(shown.height, 48);
    }

    PrivateBus bus;
    DBusConnection* forger = nullptr;
    portal::Outcome outcome = portal::Outcome::unavailable;
};

Results forged_handle = [](DBusMessageIter* array) { add_string_option(array, "session_handle", not_a_path); };
Results another_screen = [](DBusMessageIter* array) { add_stream_option(array, 7, 5000, 5000, 1, 1); };

TEST_F(PortalForgery, ThePortalAloneStartsASession) { expectThePortalsSession(open(nullptr)); }

TEST_F(PortalForgery, AForgedSessionHandleThatIsNoObjectPathIsIgnored) {
    for (bool by_name : {true, false}) {
        expectThePortalsSession(open([&](const std::string& method, const std::string& caller, const std::string& path) {
            if (method != "CreateSession") return;
            send_response(forger, by_name ? caller : "", path, 0, forged_handle);
            wait_until_passed(forger);
        }));
    }
}

TEST_F(PortalForgery, AForgedRefusalIsNoRefusal) {
    for (const char* refused : {"CreateSession", "SelectSources", "Start"}) {
        expectThePortalsSession(open([&](const std::string& method, const std::string& caller, const std::string& path) {
            if (method != refused) return;
            send_response(forger, caller, path, 1, nullptr);
            wait_until_passed(forger);
        }));
        EXPECT_NE(outcome, portal::Outcome::declined) << refused;
    }
}

TEST_F(PortalForgery, AForgedStartShowsNoOtherScreen) {
    expectThePortalsSession(open([&](const std::string& method, const std::string& caller, const std::string& path) {
        if (method != "Start") return;
        send_response(forger, caller, path, 0, another_screen);
        wait_until_passed(forger);
    }));
}

TEST_F(PortalForgery, ThePortalsOwnHandleIsCheckedToo) {
    EXPECT_EQ(open(nullptr, forged_handle), nullptr);
    EXPECT_EQ(outcome, portal::Outcome::failed);
    EXPECT_EQ(open(nullptr,
                   [](DBusMessageIter* array) {
                       add_string_option(array, "session_handle", "/org/freedesktop/portal/desktop/session/1_1/theirs",
                                         DBUS_TYPE_OBJECT_PATH);
                   }),
              nullptr);
    EXPECT_EQ(outcome, portal::Outcome::failed);
}

}  // namespace
