// waveIn* over PulseAudio records as the capture library relies on, as the Windows
// documentation says a device records.
#include "tone_breaks.h"
#include "wavein_fixture.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using WaveInContractTest = WaveInFixture<1600>;  // a tenth of a second each

// A second and a half of buffers, each re-queued as it returns: they come back full, in queue
// order, and each continues the tone where the one before ended (800 samples, not a multiple of
// its period of 7), judged once the backlog has settled.
TEST_F(WaveInContractTest, BuffersReturnFullInQueueOrderEachWithANotice) {
    for (int i = 0; i < 3; ++i) queue(i);
    ResetEvent(event);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::vector<int> samples;
    // In the first moments the source's stream is still starting (PipeWire's resampler rises
    // into the tone); judge what comes after.
    auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (int returned = 0; samples.size() < 12000; ++returned) {
        int i = returned % 3;
        while (!done(i)) ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0) << "buffer " << returned;
        EXPECT_FALSE(headers[i].dwFlags & WHDR_INQUEUE);
        ASSERT_EQ(headers[i].dwBytesRecorded, sizeof(buffers[i]));
        const auto* b = reinterpret_cast<const uint8_t*>(buffers[i]);
        bool judged = std::chrono::steady_clock::now() > settled;
        for (size_t n = 0; judged && n < sizeof(buffers[i]); n += 2)
            samples.push_back(static_cast<int16_t>(b[n] | b[n + 1] << 8));
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    expectContinuous(samples, 7, 400, 800);
}

TEST_F(WaveInContractTest, StopReturnsTheBufferBeingFilledAndResetReturnsTheRest) {
    // A 10 s buffer cannot be full when the stop comes.
    static char longBuffer[160000];
    headers[0].lpData = longBuffer;
    headers[0].dwBufferLength = sizeof(longBuffer);
    for (int i = 0; i < 3; ++i) queue(i);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    // Long enough for a first fragment (a tenth of a second) on a busy machine under ASan, where
    // 300 ms once brought none; far short of the buffer's 10 s.
    Sleep(2000);
    ResetEvent(event);
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(done(0));
    EXPECT_GT(headers[0].dwBytesRecorded, 0u);
    EXPECT_LT(headers[0].dwBytesRecorded, sizeof(longBuffer));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(done(1)) << "stop returns only the buffer being filled";
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    for (int i = 1; i < 3; ++i) {
        EXPECT_TRUE(done(i));
        EXPECT_EQ(headers[i].dwBytesRecorded, 0u);
    }
}

TEST(WaveInFormatQuery, AnswersForThePcmTheServerRecords) {
    auto query = [](WORD channels, DWORD rate, WORD bits, WORD tag = WAVE_FORMAT_PCM) {
        WORD align = static_cast<WORD>(channels * bits / 8);
        WAVEFORMATEX f{tag, channels, rate, rate * align, align, bits, 0};
        return waveInOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY);
    };
    for (WORD bits : {8, 16, 24, 32}) EXPECT_EQ(query(2, 44100, bits), MMSYSERR_NOERROR) << bits;
    EXPECT_EQ(query(8, 48000, 16), MMSYSERR_NOERROR);
    EXPECT_EQ(query(1, 8000, 12), WAVERR_BADFORMAT);
    EXPECT_EQ(query(0, 8000, 16), WAVERR_BADFORMAT);
    EXPECT_EQ(query(1, 0, 16), WAVERR_BADFORMAT);
    EXPECT_EQ(query(1, 8000, 16, 3), WAVERR_BADFORMAT) << "float";
    WAVEFORMATEX wrongAlign{WAVE_FORMAT_PCM, 1, 8000, 16000, 4, 16, 0};
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &wrongAlign, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveInOpen(nullptr, 7, &wrongAlign, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
}

}  // namespace
