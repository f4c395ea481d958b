// Handing buffers to Java: order and wrap-around of the ring, the bounds of the destination,
// refusals that touch nothing, and no byte lost or stale.
#include <cstring>
#include <thread>

#include "capture_test_support.h"

namespace {

using dummy::Call;

class HandoffTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        dummy::mic_manual(true);
        handle = open(kSize, kCount);
        ASSERT_NE(handle, 0);
    }
    void TearDown() override {
        close(handle);
        CaptureTest::TearDown();
    }

    static constexpr jint kSize = 64;
    static constexpr jint kCount = 4;
    jint handle = 0;
};

TEST_F(HandoffTest, BuffersArriveInRecordingOrderAroundTheRing) {
    jbyteArray dest = jni.newByteArray(kSize);
    for (int turn = 0; turn < 3 * kCount; ++turn) {
        ASSERT_TRUE(dummy::mic_complete());
        ASSERT_EQ(read(handle, dest, 0, kSize), 0);
        EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, uint64_t{kSize} * turn)) << "turn " << turn;
    }
    EXPECT_EQ(dummy::mic_state().queuedBuffers, kCount);
}

TEST_F(HandoffTest, ReaderThatFellBehindGetsEveryDoneBufferInOrder) {
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(dummy::mic_complete());
    EXPECT_FALSE(dummy::mic_complete()) << "nothing should be left queued";
    jbyteArray dest = jni.newByteArray(kSize);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(read(handle, dest, 0, kSize), 0);
        EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, uint64_t{kSize} * i));
    }
}

TEST_F(HandoffTest, DestinationMayEndExactlyAtOffsetPlusLength) {
    jbyteArray dest = jni.newByteArray(kSize + 10, 0x11);
    ASSERT_TRUE(dummy::mic_complete());
    ASSERT_EQ(read(handle, dest, 10, kSize), 0);
    EXPECT_EQ(jni.bytes(dest)[9], 0x11) << "bytes before the offset were written";
    EXPECT_TRUE(holdsSignal(jni.bytes(dest) + 10, kSize, 0));
    // One byte more does not fit, and is refused before anything is waited for: the array's
    // length is all the VM is asked.
    int calls = jni.vmCalls();
    EXPECT_EQ(read(handle, dest, 11, kSize), 1);
    EXPECT_EQ(jni.vmCalls() - calls, 1);
    EXPECT_EQ(jni.lengthQueries(), 2);
}

TEST_F(HandoffTest, BadArgumentsAreRefusedWithoutTouchingTheVmOrTheRing) {
    jbyteArray dest = jni.newByteArray(kSize, 0x22);
    ASSERT_TRUE(dummy::mic_complete());
    struct Case {
        jint handle;
        jbyteArray dest;
        jint offset, length;
    };
    const Case cases[] = {
        {0, dest, 0, kSize},               {handle, nullptr, 0, kSize},   {handle, dest, -1, 8},
        {handle, dest, 0, -1},             {handle, dest, 0, kSize + 1},  {handle, dest, INT32_MAX, 1},
        {handle, dest, 1, INT32_MAX},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.handle, c.dest, c.offset, c.length), 1) << c.offset << "+" << c.length;
    }
    EXPECT_EQ(jni.vmCalls(), 0);
    EXPECT_EQ(jni.bytes(dest)[0], 0x22);
    // The done buffer is still the next one handed over.
    ASSERT_EQ(read(handle, dest, 0, kSize), 0);
    EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, 0));
}

TEST_F(HandoffTest, ZeroLengthDropsOneBuffer) {
    jbyteArray dest = jni.newByteArray(kSize, 0x33);
    ASSERT_TRUE(dummy::mic_complete());
    ASSERT_TRUE(dummy::mic_complete());
    ASSERT_EQ(read(handle, dest, 0, 0), 0);
    EXPECT_EQ(jni.bytes(dest)[0], 0x33);
    ASSERT_EQ(read(handle, dest, 0, kSize), 0);
    EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, kSize));
}

TEST_F(HandoffTest, OnlyRecordedBytesAreCopiedAndTheRestIsZeroed) {
    jbyteArray dest = jni.newByteArray(kSize, 0x44);
    ASSERT_TRUE(dummy::mic_complete(10));
    ASSERT_EQ(read(handle, dest, 0, kSize), 0);
    EXPECT_TRUE(holdsSignal(jni.bytes(dest), 10, 0));
    for (int i = 10; i < kSize; ++i) ASSERT_EQ(jni.bytes(dest)[i], 0) << "stale byte at " << i;
}

TEST_F(HandoffTest, BufferCutShortOnALaterTurnShowsZerosNotAnEarlierTurn) {
    jbyteArray dest = jni.newByteArray(kSize);
    // A whole first turn leaves every buffer full of recorded bytes.
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(dummy::mic_complete());
        ASSERT_EQ(read(handle, dest, 0, kSize), 0);
    }
    ASSERT_TRUE(dummy::mic_complete(10));
    ASSERT_EQ(read(handle, dest, 0, kSize), 0);
    EXPECT_TRUE(holdsSignal(jni.bytes(dest), 10, uint64_t{kSize} * kCount));
    for (int i = 10; i < kSize; ++i) ASSERT_EQ(jni.bytes(dest)[i], 0) << "byte of an earlier turn at " << i;
}

TEST_F(HandoffTest, RefusedRequeueReturnsTheDeviceCodeAndTheRingStays) {
    jbyteArray dest = jni.newByteArray(kSize);
    ASSERT_TRUE(dummy::mic_complete());
    ASSERT_TRUE(dummy::mic_complete());
    dummy::fail(Call::WaveInAddBuffer, MMSYSERR_NOMEM);
    EXPECT_EQ(read(handle, dest, 0, kSize), MMSYSERR_NOMEM);
    EXPECT_TRUE(holdsSignal(jni.bytes(dest), kSize, 0)) << "the bytes were copied all the same";
    // The ring stays on the buffer that left the queue: later reads wait until close.
    jint later = -1;
    std::thread reader([&] { later = read(handle, dest, 0, kSize); });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(later, -1);
    close(handle);
    handle = 0;
    reader.join();
    EXPECT_EQ(later, 1);
}

}  // namespace
