// Thousands of captures, each read by one thread and closed by another at a random moment,
// while the simulated machine refuses formats, fails device calls and allocations, and delays
// or loses its notices. No cycle may crash, hang, exceed its close bound or keep anything.
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "capture_test_support.h"

namespace {

// Where the reader stood when close began.
enum class Moment { BeforeFirstRead, InsideRead, BetweenReads, Count };

// Most cycles leave that moment to chance; a few steer close to each one, so that every moment
// is covered however the threads happen to run.
enum class Steer { None, BeforeFirstRead, InsideRead, BetweenReads };

Steer steerFor(int cycle) {
    switch (cycle % 20) {
    case 1: return Steer::BeforeFirstRead;
    case 2: return Steer::InsideRead;
    case 3: return Steer::BetweenReads;
    default: return Steer::None;
    }
}

// How long a steered cycle waits for its reader to get where it is steered: far more than any
// machine takes, but a reader that never gets there is a fault, not a hang of the test.
constexpr auto kSteerTimeout = std::chrono::seconds(5);

// What the Java wrapper does around the natives: no read starts once close has begun, and
// nclose is called only when no read is between the guard and the native call (a read that
// has asked for the array's length is inside, holding the capture).
class ReadGuard {
public:
    bool enter() {
        std::lock_guard<std::mutex> hold(lock_);
        if (closed_) return false;
        ++reads_;
        return true;
    }
    void leave() {
        std::unique_lock<std::mutex> hold(lock_);
        --reads_;
        ++finished_;
        changed_.notify_all();
        if (holdAfterRead_) changed_.wait(hold, [this] { return closed_; });
    }
    // Makes the reader wait after each read until close has begun.
    void holdAfterRead() { holdAfterRead_ = true; }
    // Whether a read came back within the time.
    bool waitForFirstRead() {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, kSteerTimeout, [this] { return finished_ > 0; });
    }
    // Closes the gate; then waits until every read that came through is inside or done.
    Moment closeGate(const FakeJni& jni) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            closed_ = true;
        }
        changed_.notify_all();
        for (;; std::this_thread::yield()) {
            std::lock_guard<std::mutex> hold(lock_);
            if (jni.lengthQueries() > finished_) return Moment::InsideRead;
            if (reads_ == 0) return finished_ == 0 ? Moment::BeforeFirstRead : Moment::BetweenReads;
        }
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool holdAfterRead_ = false;
    bool closed_ = false;
    int reads_ = 0;
    int finished_ = 0;
};

constexpr jint kArrayBytes = 256;

// One cycle's machine: how the microphone runs and what goes wrong.
struct Scenario {
    bool manual;
    jint rate, channels, bufferSize, bufferCount;
    bool opens;        // whether nopen is expected to succeed under the injected fault
    bool lostNotice;   // the device's close notice never comes: close waits out its limit
    bool mayStayArmed; // the scripted failure may not have fired by the end of the cycle
};

Scenario arrange(std::mt19937& random, bool lostNotice, Steer steer) {
    Scenario s{};
    s.manual = random() % 2 == 0;
    // A reader stays inside a read only while nothing is recorded.
    if (steer == Steer::InsideRead) s.manual = true;
    // Real time at 48 kHz stereo fills a buffer every few hundred microseconds.
    s.rate = s.manual ? 8000 : 48000;
    s.channels = s.manual ? 1 : 2;
    s.bufferSize = 1 + static_cast<jint>(random() % kArrayBytes);
    s.bufferCount = 1 + static_cast<jint>(random() % 6);
    s.opens = true;
    s.lostNotice = lostNotice;

    dummy::mic_manual(s.manual);
    dummy::mic_lose_close_notification(lostNotice);
    dummy::mic_refuse_formats(false);
    dummy::mic_delay_notifications(0);
    if (lostNotice) return s;
    const int count = s.bufferCount;
    switch (random() % 12) {
    case 0: dummy::mic_refuse_formats(true); s.opens = false; break;
    case 1: dummy::fail(dummy::Call::WaveInQuery, WAVERR_BADFORMAT); s.opens = false; break;
    case 2: dummy::fail(dummy::Call::WaveInOpen, MMSYSERR_BADDEVICEID); s.opens = false; break;
    case 3: dummy::fail(dummy::Call::WaveInPrepare, MMSYSERR_NOMEM, random() % count); s.opens = false; break;
    case 4: dummy::fail(dummy::Call::WaveInStart, MMSYSERR_ERROR); s.opens = false; break;
    case 5: dummy::fail(dummy::Call::GlobalAlloc, 0, random() % (count + 1)); s.opens = false; break;
    case 6: dummy::fail(dummy::Call::CreateEvent); s.opens = false; break;
    case 7: {
        // Either while open queues the ring or later, when a read gives a buffer back.
        int skip = static_cast<int>(random() % (2 * count + 2));
        dummy::fail(dummy::Call::WaveInAddBuffer, MMSYSERR_NOMEM, skip);
        s.opens = skip >= count;
        s.mayStayArmed = s.opens;
        break;
    }
    case 8: case 9: dummy::mic_delay_notifications(1 + random() % 4); break;
    default: break;
    }
    return s;
}

struct Tally {
    int opened = 0;
    int moments[static_cast<int>(Moment::Count)] = {};
    int lostNotices = 0;
};

class CaptureStress : public CaptureTest {
protected:
    // Opens, reads and closes one capture; every failure names the cycle.
    void runCycle(int cycle, std::mt19937& random, bool lostNotice, Tally& tally) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        Steer steer = steerFor(cycle);
        Scenario s = arrange(random, lostNotice, steer);
        FakeJni vm;
        jbyteArray dest = vm.newByteArray(kArrayBytes);
        jint handle = Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm.env(), nullptr, s.rate, s.channels,
                                                                              16, s.bufferSize, s.bufferCount);
        ASSERT_EQ(handle != 0, s.opens);
        if (handle) {
            ++tally.opened;
            tally.lostNotices += s.lostNotice;
            closeWhileReading(vm, handle, dest, s, steer, random, tally);
        }
        expectNothingKept(vm);
        // Reset also repaints the whole virtual screen, too slow for every cycle under TSan.
        if (s.mayStayArmed) dummy::reset();
    }

    void closeWhileReading(FakeJni& vm, jint handle, jbyteArray dest, const Scenario& s, Steer steer,
                           std::mt19937& random, Tally& tally) {
        jint length = static_cast<jint>(random() % (s.bufferSize + 1));
        jint offset = static_cast<jint>(random() % (kArrayBytes - length + 1));
        ReadGuard guard;
        Moment moment = Moment::Count;
        if (steer == Steer::BeforeFirstRead) moment = guard.closeGate(vm);
        if (steer == Steer::BetweenReads) guard.holdAfterRead();
        std::promise<void> finished;
        std::future<void> readerDone = finished.get_future();
        std::thread reader([&] {
            while (guard.enter()) {
                jint result = Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm.env(), nullptr, handle,
                                                                                          dest, offset, length);
                guard.leave();
                if (result != 0) break;
            }
            finished.set_value();
        });
        if (s.manual && steer != Steer::InsideRead) {
            // A reader held between reads needs a first read that comes back.
            int completions = static_cast<int>(random() % 6) + (steer == Steer::BetweenReads);
            for (int c = 0; c < completions; ++c) dummy::mic_complete(random() % (s.bufferSize + 1));
        }
        if (steer == Steer::InsideRead) {
            auto deadline = std::chrono::steady_clock::now() + kSteerTimeout;
            while (vm.lengthQueries() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        }
        if (steer == Steer::BetweenReads) {
            EXPECT_TRUE(guard.waitForFirstRead()) << "no read came back";
        }
        if (steer == Steer::None)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (s.manual ? 300 : 3000)));
        if (steer != Steer::BeforeFirstRead) moment = guard.closeGate(vm);
        ++tally.moments[static_cast<int>(moment)];
        if (steer != Steer::None) {
            EXPECT_EQ(static_cast<int>(moment), static_cast<int>(steer) - 1) << "close fell elsewhere than steered";
        }
        long ms = millisecondsTaken([&] { close(handle); });
        // A reader that never comes back is a hang, not slowness: stop the run here.
        if (readerDone.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the reader is still inside ngetBuffer 5 s after close";
            std::abort();
        }
        reader.join();
        EXPECT_LT(ms, s.lostNotice ? 4000 : 1500) << "close took too long";
    }

    void expectNothingKept(const FakeJni& vm) {
        dummy::KernelState kernel = dummy::kernel_state();
        dummy::MicState mic = dummy::mic_state();
        ASSERT_EQ(kernel.handles, start_.handles) << "kernel handle kept";
        ASSERT_EQ(kernel.allocations, start_.allocations) << "global memory kept";
        ASSERT_EQ(mic.devices, 0) << "device left open";
        ASSERT_EQ(mic.preparedHeaders, 0) << "header left prepared";
        ASSERT_EQ(vm.violations(), 0) << vm.firstViolation();
    }

    dummy::KernelState start_ = dummy::kernel_state();
};

TEST_F(CaptureStress, ConcurrentCloseWithFaultsNeverHangsCrashesOrLeaks) {
    std::mt19937 random(12345);
    Tally tally;
    const int cycles = 2000;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // A lost close notice costs the full wait: a few cycles show it stays bounded.
        runCycle(cycle, random, cycle % 1000 == 500, tally);
        if (HasFatalFailure()) return;
    }
    // The random moments must really have covered every place a close can fall.
    EXPECT_GT(tally.opened, cycles / 4);
    EXPECT_EQ(tally.lostNotices, cycles / 1000);
    EXPECT_GT(tally.moments[static_cast<int>(Moment::BeforeFirstRead)], 0);
    EXPECT_GT(tally.moments[static_cast<int>(Moment::InsideRead)], 0);
    EXPECT_GT(tally.moments[static_cast<int>(Moment::BetweenReads)], 0);
}

}  // namespace
