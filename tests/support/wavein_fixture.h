// One open recording device with its notice event, and three headers over the test's buffers:
// the waveIn tests of every backend start from it, and it closes the device as winmm says a
// device closes: reset, every header unprepared, one notice of the close.
#pragma once

#include <gtest/gtest.h>
#include <mmsystem.h>
#include <windows.h>

#include <atomic>

template <DWORD BufferBytes>
class WaveInFixture : public ::testing::Test {
protected:
    void SetUp() override {
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "no notice of the open";
        for (int i = 0; i < 3; ++i) {
            headers[i].lpData = buffers[i];
            headers[i].dwBufferLength = BufferBytes;
        }
    }
    void TearDown() override {
        waveInReset(device);
        for (WAVEHDR& header : headers) waveInUnprepareHeader(device, &header, sizeof(WAVEHDR));
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "no notice of the close";
        EXPECT_EQ(waveInClose(device), MMSYSERR_INVALHANDLE);
        CloseHandle(event);
    }
    void queue(int i) {
        ASSERT_EQ(waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    bool done(int i) { return std::atomic_ref<DWORD>(headers[i].dwFlags).load(std::memory_order_acquire) & WHDR_DONE; }

    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HANDLE event = nullptr;
    HWAVEIN device = nullptr;
    char buffers[3][BufferBytes] = {};
    WAVEHDR headers[3] = {};
};
