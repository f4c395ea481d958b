// The real microphone through the exported functions, in tests/env/devices.sh: its default
// source plays a sine whose period is 7 samples at 8000 Hz.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "elapsed.h"
#include "recording_fixture.h"
#include "private_server.h"
#include "tone_breaks.h"

namespace {

class ToneTest : public RecordingTest, public ::testing::WithParamInterface<Format> {};

// Buffers of a tenth of a second: 800 or 1600 frames, not a multiple of the tone's period, so a
// buffer lost, repeated or out of order breaks it.
TEST_P(ToneTest, ArrivesContinuous) {
    Format f = GetParam();
    jint bufferSize = f.rate / 10 * f.channels * f.bits / 8;
    jint handle = open(f, bufferSize);
    ASSERT_NE(handle, 0);
    std::vector<int> samples = record(handle, f, bufferSize, 4);
    close(handle);
    ASSERT_GE(samples.size(), static_cast<size_t>(4 * f.rate * 0.95)) << "the recording ended early";
    size_t period = static_cast<size_t>(kTonePeriodSeconds * f.rate + 0.5);
    // Resampling and 8-bit samples leave small differences from period to period; a break is
    // far larger.
    int tolerance = f.bits == 8 ? 800 : 400;
    expectContinuous(samples, period, tolerance, static_cast<size_t>(bufferSize / (f.channels * f.bits / 8)));
    int peak = 0;
    for (size_t i = 0; i < samples.size(); ++i) peak = std::max(peak, std::abs(samples[i]));
    EXPECT_GT(peak, 12000) << "no tone: silence is continuous too";
}

INSTANTIATE_TEST_SUITE_P(RatesChannelsAndWidths, ToneTest,
                         ::testing::Values(Format{8000, 1, 16}, Format{8000, 2, 16}, Format{8000, 1, 8},
                                           Format{8000, 2, 8}, Format{16000, 1, 16}, Format{16000, 2, 16},
                                           Format{16000, 1, 8}, Format{16000, 2, 8}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             const Format& f = info.param;
                             return std::to_string(f.rate) + "Hz_" + std::to_string(f.channels) + "ch_" +
                                    std::to_string(f.bits) + "bit";
                         });

TEST_F(RecordingTest, TwoCapturesRecordAtOnce) {
    Format f{8000, 1, 16};
    jint first = open(f, 1600), second = open(f, 1600);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    std::vector<int> a, b;
    std::thread other([&] { b = record(second, f, 1600, 3); });
    a = record(first, f, 1600, 3);
    other.join();
    close(first);
    close(second);
    expectContinuous(a, 7, 400, 800);
    expectContinuous(b, 7, 400, 800);
    EXPECT_GE(std::min(a.size(), b.size()), 3u * 8000 * 95 / 100);
}

// A second of audio comes no faster than real time: an earlier capture on the same connection
// leaves nothing behind for the next, and the source hands over nothing from before the capture
// opened (a pipe source once handed over seconds of it, which overflowed rings and broke
// recordings). A busy machine only makes the second take longer.
TEST_F(MicrophoneTest, AFreshCaptureHoldsLittleAudioFromBeforeItOpened) {
    Format f{8000, 1, 16};
    jbyteArray dest = jni.newByteArray(1600);
    jint earlier = open(f, 1600);
    ASSERT_NE(earlier, 0);
    ASSERT_EQ(read(earlier, dest, 1600), 0);
    close(earlier);
    std::this_thread::sleep_for(std::chrono::seconds(2));

    // A ring of 6 s: a backlog of seconds arrives whole rather than overflowing it.
    jint handle = -1;
    auto aSecondOfAudio = millisecondsTaken([&] {
        handle = open(f, 1600, 60);
        for (int i = 0; i < 10 && handle != 0; ++i) ASSERT_EQ(read(handle, dest, 1600), 0);
    });
    ASSERT_NE(handle, 0);
    close(handle);
    EXPECT_GE(aSecondOfAudio, 400) << "ms for a second of audio";
}

TEST_F(MicrophoneTest, CloseWakesABlockedReader) {
    // Buffers of 10 s: the reader waits on the first one when the close comes.
    jint handle = open(Format{8000, 1, 16}, 160000, 2);
    ASSERT_NE(handle, 0);
    jbyteArray dest = jni.newByteArray(160000);
    std::atomic<jint> result{-1};
    std::thread reader([&] { result = read(handle, dest, 160000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(millisecondsTaken([&] { close(handle); }), 3000);
    reader.join();
    EXPECT_TRUE(result == 0 || result == 1) << result;
}

TEST_F(MicrophoneTest, NoServerOpensNothingAtOnce) {
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
    jint handle = -1;
    EXPECT_LT(millisecondsTaken([&] { handle = open(Format{8000, 1, 16}, 1600); }), 1000);
    EXPECT_EQ(handle, 0);
}

TEST_F(MicrophoneTest, ServerWithoutSourceOpensNothingAtOnce) {
    PrivateServer server(false);
    ASSERT_TRUE(server.running());
    jint handle = -1;
    EXPECT_LT(millisecondsTaken([&] { handle = open(Format{8000, 1, 16}, 1600); }), 1000);
    EXPECT_EQ(handle, 0);
}

TEST_F(MicrophoneTest, ServerKilledMidCaptureWakesTheReader) {
    PrivateServer server(true);
    ASSERT_TRUE(server.running());
    jint handle = open(Format{8000, 1, 16}, 1600, 4);
    ASSERT_NE(handle, 0);
    jbyteArray dest = jni.newByteArray(1600);
    ASSERT_EQ(read(handle, dest, 1600), 0) << "the server's monitor source records";
    std::atomic<bool> ended{false};
    std::atomic<jint> last{0};
    std::thread reader([&] {
        jint r;
        while ((r = read(handle, dest, 1600)) == 0) {
        }
        last = r;
        ended = true;
    });
    server.kill();
    for (int i = 0; i < 100 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(ended) << "the reader was not woken";
    EXPECT_EQ(last, 6) << "MMSYSERR_NODRIVER from the re-queue";
    EXPECT_LT(millisecondsTaken([&] { close(handle); }), 3000);
    reader.join();
}

}  // namespace
