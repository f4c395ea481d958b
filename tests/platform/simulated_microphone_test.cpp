// The simulated microphone records as the Windows documentation says a device records, and
// as the tests script it.
#include <cstring>
#include <vector>

#include "control.h"
#include "wavein_fixture.h"

namespace {

constexpr DWORD kBufferBytes = 16000;  // a second of audio

// Buffers complete by hand, unless a test lets the clock run.
class SimulatedMicrophoneTest : public WaveInFixture<kBufferBytes> {
protected:
    void SetUp() override {
        dummy::reset();
        dummy::mic_manual(true);
        WaveInFixture::SetUp();
    }
    void TearDown() override {
        WaveInFixture::TearDown();
        EXPECT_EQ(dummy::mic_state().devices, 0);
    }
};

TEST_F(SimulatedMicrophoneTest, BuffersReturnInQueueOrderEachWithANotice) {
    for (int i = 0; i < 3; ++i) queue(i);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(dummy::mic_complete());
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(headers[i].dwFlags & WHDR_DONE);
        EXPECT_FALSE(headers[i].dwFlags & WHDR_INQUEUE);
        EXPECT_EQ(headers[i].dwBytesRecorded, kBufferBytes);
        EXPECT_EQ(static_cast<uint8_t>(buffers[i][4]), dummy::signal_byte(kBufferBytes * i + 4));
    }
}

TEST_F(SimulatedMicrophoneTest, ShortBuffersCarryTheStreamOnFromWhereverItStands) {
    std::memset(buffers, 0xAA, sizeof(buffers));
    for (int i = 0; i < 3; ++i) queue(i);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    // Lengths that start buffers at each offset within a word: 0, 2 and 3.
    const DWORD recorded[3] = {6, 5, 7};
    uint64_t position = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(dummy::mic_complete(recorded[i]));
        ASSERT_EQ(headers[i].dwBytesRecorded, recorded[i]);
        for (DWORD b = 0; b < recorded[i]; ++b)
            EXPECT_EQ(static_cast<uint8_t>(buffers[i][b]), dummy::signal_byte(position + b)) << "buffer " << i << " byte " << b;
        for (DWORD b = recorded[i]; b < recorded[i] + 8; ++b)
            EXPECT_EQ(static_cast<uint8_t>(buffers[i][b]), 0xAA) << "written past what was recorded, buffer " << i << " byte " << b;
        position += recorded[i];
    }
}

TEST_F(SimulatedMicrophoneTest, StopReturnsTheBufferBeingFilledAndResetReturnsTheRest) {
    dummy::mic_manual(false);
    for (int i = 0; i < 3; ++i) queue(i);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    Sleep(1);  // the first buffer is partly filled, unless this thread stalls for a second
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(headers[0].dwFlags & WHDR_DONE);
    EXPECT_LT(headers[0].dwBytesRecorded, kBufferBytes);
    EXPECT_FALSE(headers[1].dwFlags & WHDR_DONE) << "stop returns only the buffer being filled";
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    for (int i = 1; i < 3; ++i) {
        EXPECT_TRUE(headers[i].dwFlags & WHDR_DONE);
        EXPECT_EQ(headers[i].dwBytesRecorded, 0u);
    }
    EXPECT_EQ(dummy::mic_state().queuedBuffers, 0);
}

TEST_F(SimulatedMicrophoneTest, NamedEventsAreSharedAndAutoReset) {
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, "shared");
    HANDLE second = CreateEventA(nullptr, TRUE, TRUE, "shared");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT) << "the existing event keeps its state";
    SetEvent(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "one wait takes an auto-reset signal";
    CloseHandle(first);
    EXPECT_TRUE(dummy::event_exists("shared"));
    CloseHandle(second);
    EXPECT_FALSE(dummy::event_exists("shared"));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_FAILED);
}

}  // namespace
