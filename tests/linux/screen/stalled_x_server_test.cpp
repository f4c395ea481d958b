// X servers that stop answering: each wait of a grab for the server is bounded (server_answer_ms),
// so grabs of a server that accepts and never answers, or that was stopped, return black within
// that bound from every thread at once, and a server that goes on is read again.
#include <elapsed.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "fake_x_server.h"
#include "screen/x11/x_display.h"
#include "screen_test_support.h"

namespace {

// Far above the bound, far below forever: a grab held by the server takes the bound, one that is
// not held takes milliseconds, and one without a bound never returns.
const long returned_ms = x11::server_answer_ms + 6000;

class StalledXServer : public ScreenTest {
protected:
    // Four grabs of 8 x 4 at once; each must return within returned_ms with zeros. Grabs still
    // waiting after 30 s are let go by `release` (ending the server), so that a failure ends.
    void expectFourGrabsToReturnBlackInTime(const std::function<void()>& release) {
        std::vector<jintArray> arrays;
        for (int t = 0; t < 4; ++t) arrays.push_back(jni.newIntArray(32, untouched));
        std::vector<std::future<long>> grabs;
        for (jintArray array : arrays)
            grabs.push_back(std::async(std::launch::async, [this, array] {
                return millisecondsTaken([&] { grab(array, 0, 0, 8, 4); });
            }));
        const auto latest = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool all_returned = true;
        for (auto& g : grabs) all_returned = g.wait_until(latest) == std::future_status::ready && all_returned;
        if (!all_returned) release();
        EXPECT_TRUE(all_returned) << "a grab waits for the server for ever";
        for (size_t t = 0; t < grabs.size(); ++t) {
            EXPECT_LT(grabs[t].get(), returned_ms) << "grab " << t;
            const jint* got = jni.ints(arrays[t]);
            EXPECT_EQ(std::vector<uint32_t>(got, got + 32), std::vector<uint32_t>(32, 0)) << "grab " << t;
        }
    }
};

TEST_F(StalledXServer, OneThatAcceptsAndNeverAnswersHoldsNoGrab) {
    auto silent = std::make_unique<FakeXServer>(FakeScreen{}, std::vector<uint8_t>{}, FakeXServer::Then::say_nothing);
    ASSERT_FALSE(silent->name().empty());
    use_display(silent->name());
    expectFourGrabsToReturnBlackInTime([&] { silent = nullptr; });
    expectFourGrabsToReturnBlackInTime([&] { silent = nullptr; });  // the connection still under way

    // Nothing is held for the next display either.
    XServer next(64, 48, 24);
    ASSERT_FALSE(next.name().empty());
    use_display(next.name());
    next.draw(picture(64, 48).data(), 4);
    EXPECT_EQ(grabbed(1, 1, 2, 1), (std::vector<uint32_t>{0x001001, 0x001002}));
    expectEverythingReleased();
}

TEST_F(StalledXServer, OneThatStopsAnsweringAfterItsSetupHoldsNoGrab) {
    FakeScreen white;
    white.pixel = 0xFFFFFF;
    auto server = std::make_unique<FakeXServer>(white, setup_of(white), FakeXServer::Then::answer);
    ASSERT_FALSE(server->name().empty());
    use_display(server->name());
    ASSERT_EQ(grabbed(0, 0, 8, 4)[0], 0xFFFFFFu);
    server->stop_answering();
    expectFourGrabsToReturnBlackInTime([&] { server = nullptr; });
}

TEST_F(StalledXServer, AStoppedXvfbHoldsNoGrabAndIsReadOnceItGoesOn) {
    XServer server(64, 48, 24);
    ASSERT_FALSE(server.name().empty());
    use_display(server.name());
    server.draw(picture(64, 48).data(), 4);
    ASSERT_EQ(grabbed(1, 1, 2, 1), (std::vector<uint32_t>{0x001001, 0x001002}));

    server.pause();
    expectFourGrabsToReturnBlackInTime([&] { server.resume(); });
    expectFourGrabsToReturnBlackInTime([&] { server.resume(); });  // connected afresh, or trying to
    server.resume();
    std::vector<uint32_t> seen;
    for (int i = 0; i < 300 && seen != std::vector<uint32_t>{0x001001, 0x001002}; ++i) {
        seen = grabbed(1, 1, 2, 1);
        usleep(100000);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x001001, 0x001002})) << "read again once it goes on";
}

}  // namespace
