// Handles that name no open capture: never opened, closed once or twice, or closed while a
// call with them was on its way in. Each is refused without reaching any block, freed or live,
// and never reaches the capture opened after it. Thousands of rounds race open, read and close
// with no coordination between the threads; under the sanitizers and valgrind a call that
// reached a freed block shows as a use after free.
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "capture_test_support.h"

namespace {

constexpr jint kSize = 256;

TEST_F(CaptureTest, HandlesThatNeverNamedACaptureAreRefusedAndCloseNothing) {
    jint live = open(kSize, 4);
    ASSERT_NE(live, 0);
    // Memory that is no capture, filled the way a block never is.
    void* other = GlobalAlloc(GMEM_FIXED, 16384);
    jint notCaptures[] = {0, 1, -1, live + 4, INT32_MIN, static_cast<jint>(reinterpret_cast<uintptr_t>(other))};
    jbyteArray dest = jni.newByteArray(kSize);
    int adds = dummy::mic_state().addBufferCalls;
    for (jint handle : notCaptures) {
        EXPECT_EQ(read(handle, dest, 0, kSize), 1) << handle;
        close(handle);
    }
    EXPECT_EQ(dummy::mic_state().addBufferCalls, adds) << "a refused call reached a device";
    EXPECT_EQ(dummy::mic_state().devices, 1) << "a close of no capture closed one";
    EXPECT_EQ(read(live, dest, 0, kSize), 0) << "the open capture stopped delivering";
    GlobalFree(other);
    close(live);
}

TEST_F(CaptureTest, ClosedHandleIsRefusedAndASecondCloseDoesNothing) {
    jint handle = open(kSize, 4);
    ASSERT_NE(handle, 0);
    close(handle);
    dummy::KernelState closed = dummy::kernel_state();
    jbyteArray dest = jni.newByteArray(kSize, 0x66);
    // A reader that took the handle before close and entered after it returned.
    EXPECT_EQ(read(handle, dest, 0, kSize), 1);
    close(handle);
    EXPECT_EQ(dummy::kernel_state().handles, closed.handles);
    EXPECT_EQ(dummy::kernel_state().allocations, closed.allocations);
    EXPECT_EQ(jni.bytes(dest)[0], 0x66) << "the refused read wrote into the array";
}

// A Windows heap hands a freed block's address straight to the next block of that size, so
// without a guard the next capture would be reachable through the last one's handle.
TEST_F(CaptureTest, StaleHandleNeverReachesTheCaptureOpenedAfterIt) {
    dummy::mic_manual(true);
    dummy::heap_reuse_addresses(true);
    jbyteArray dest = jni.newByteArray(kSize);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        jint stale = open(kSize, 4);
        ASSERT_NE(stale, 0);
        close(stale);
        jint fresh = open(kSize, 4);
        ASSERT_NE(fresh, 0);
        ASSERT_TRUE(dummy::mic_complete());
        EXPECT_EQ(read(stale, dest, 0, kSize), 1) << "the stale handle read the new capture";
        close(stale);
        EXPECT_EQ(dummy::mic_state().devices, 1) << "the stale handle closed the new capture";
        EXPECT_EQ(read(fresh, dest, 0, kSize), 0);
        EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, 0)) << "the new capture lost its first buffer";
        close(fresh);
        if (HasFailure()) return;
    }
}

// Each round: one thread reads until refused, one closes at a random moment, another closes the
// same handle at the same time, and a read comes after both closes returned; a fourth thread reads
// with the last round's handle throughout. No thread waits for another before its call.
TEST_F(CaptureTest, ThousandsOfRacingOpenReadCloseRoundsStayApart) {
    // Each thread calls through a VM of its own.
    auto readOne = [](FakeJni& vm, jint handle, jbyteArray dest) {
        return Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm.env(), nullptr, handle, dest, 0, 1);
    };
    dummy::heap_reuse_addresses(true);
    std::mt19937 random(4242);
    const int rounds = 2000;
    std::atomic<jint> lastClosed{0};
    std::atomic<bool> running{true};
    std::atomic<int> staleAccepted{0};
    FakeJni staleVm;
    jbyteArray staleDest = staleVm.newByteArray(kSize);
    std::thread staleReader([&] {
        while (running)
            if (jint handle = lastClosed.load(); handle && readOne(staleVm, handle, staleDest) != 1)
                staleAccepted += lastClosed.load() == handle;
            else
                std::this_thread::yield();
    });
    int refusedAfterClose = 0;
    for (int round = 0; round < rounds; ++round) {
        // 48 kHz stereo fills a buffer every few hundred microseconds.
        jint handle = open(1 + static_cast<jint>(random() % kSize), 1 + static_cast<jint>(random() % 4), 48000, 2);
        if (!handle) {
            ADD_FAILURE() << "round " << round << " did not open";
            break;
        }
        FakeJni vm;
        jbyteArray dest = vm.newByteArray(kSize);
        std::thread reader([&] {
            while (readOne(vm, handle, dest) == 0) {
            }
        });
        auto pause = std::chrono::microseconds(random() % 2000);
        std::thread secondCloser([&] {
            std::this_thread::sleep_for(pause);
            close(handle);
        });
        std::this_thread::sleep_for(pause);
        close(handle);
        secondCloser.join();
        reader.join();
        // As a reader that took the handle before the closes and entered after them.
        refusedAfterClose += readOne(vm, handle, dest) == 1;
        lastClosed = handle;
    }
    running = false;
    staleReader.join();
    EXPECT_EQ(refusedAfterClose, rounds) << "a read after close was not refused";
    EXPECT_EQ(staleAccepted.load(), 0) << "a closed handle was accepted";
}

}  // namespace
