// The simulated microphone keeps the waveIn rules that the capture library relies on, as the
// Windows documentation gives them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "control.h"

namespace {

class SimulatedMicrophoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        dummy::reset();
        dummy::mic_manual(true);
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "no notice of the open";
        for (int i = 0; i < 3; ++i) {
            headers[i].lpData = buffers[i];
            headers[i].dwBufferLength = sizeof(buffers[i]);
        }
    }
    void TearDown() override {
        waveInReset(device);
        for (WAVEHDR& header : headers) waveInUnprepareHeader(device, &header, sizeof(WAVEHDR));
        waveInClose(device);
        CloseHandle(event);
        EXPECT_EQ(dummy::mic_state().devices, 0);
    }
    void queue(int i) {
        ASSERT_EQ(waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }

    HANDLE event = nullptr;
    HWAVEIN device = nullptr;
    // A second of audio each at the format opened above.
    static constexpr DWORD kBufferBytes = 16000;
    char buffers[3][kBufferBytes] = {};
    WAVEHDR headers[3] = {};
};

TEST_F(SimulatedMicrophoneTest, QueueRulesFollowTheDocumentation) {
    EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    queue(0);
    EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING) << "queued twice";
    EXPECT_EQ(waveInUnprepareHeader(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInAddBuffer(device, &headers[1], 12), MMSYSERR_INVALPARAM);
}

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
