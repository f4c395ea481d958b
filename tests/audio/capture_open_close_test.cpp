// Opening and closing captures: the format handed to the device, refusals, failures at every
// step releasing all that was taken, and close staying bounded.
#include <thread>

#include "capture_test_support.h"

namespace {

using dummy::Call;

TEST_F(CaptureTest, OpensWithThePcmFormatAskedFor) {
    dummy::mic_manual(true);  // no buffer may come back before the queue is counted
    jint handle = open(1024, 8, 44100, 2, 16);
    ASSERT_NE(handle, 0);
    WAVEFORMATEX format = dummy::mic_state().lastFormat;
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nAvgBytesPerSec, 44100u * 4);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.cbSize, 0);
    EXPECT_EQ(dummy::mic_state().queuedBuffers, 8);
    close(handle);
}

TEST_F(CaptureTest, TwelveBitSamplesCountAsOneWholeByte) {
    // The device refuses 12-bit audio, but the query shows what it was asked.
    EXPECT_EQ(open(256, 4, 8000, 2, 12), 0);
    WAVEFORMATEX format = dummy::mic_state().lastFormat;
    EXPECT_EQ(format.nBlockAlign, 2);
    EXPECT_EQ(format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(format.wBitsPerSample, 12);
}

TEST_F(CaptureTest, RefusedFormatOpensNoDevice) {
    dummy::mic_refuse_formats(true);
    dummy::fail(Call::WaveInOpen, MMSYSERR_ERROR);  // would show if open came after a refusal
    EXPECT_EQ(open(), 0);
    dummy::reset();
    EXPECT_EQ(dummy::mic_state().devices, 0);
}

TEST_F(CaptureTest, RingsAndFormatsThatCannotBeRecordedAreRefusedUpFront) {
    EXPECT_EQ(open(256, 257), 0);
    EXPECT_EQ(open(0, 4), 0);
    EXPECT_EQ(open(-5, 4), 0);
    // No channel, no whole byte in a frame, no rate: the device must never see a frame of 0 bytes.
    EXPECT_EQ(open(256, 4, 8000, 0, 16), 0);
    EXPECT_EQ(open(256, 4, 8000, 65536, 16), 0);
    EXPECT_EQ(open(256, 4, 8000, 1, 4), 0);
    EXPECT_EQ(open(256, 4, 8000, 2, -3), 0);
    EXPECT_EQ(open(256, 4, 0, 1, 16), 0);
    EXPECT_EQ(open(256, 4, -8000, 1, 16), 0);
    EXPECT_EQ(dummy::mic_state().lastFormat.nSamplesPerSec, 0u) << "the device was asked";
}

TEST_F(CaptureTest, FullRingOf256BuffersOpens) {
    // By the clock a 64-byte buffer fills in 4 ms, which a slow machine spends in open itself.
    dummy::mic_manual(true);
    jint handle = open(64, 256);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(dummy::mic_state().queuedBuffers, 256);
    close(handle);
}

TEST_F(CaptureTest, EveryFailingStepOfOpenReleasesAllItTook) {
    struct Step {
        Call call;
        int skip;
    };
    const Step steps[] = {
        {Call::GlobalAlloc, 0},     {Call::CreateEvent, 0},     {Call::WaveInQuery, 0},
        {Call::WaveInOpen, 0},      {Call::GlobalAlloc, 1},     {Call::GlobalAlloc, 3},
        {Call::WaveInPrepare, 0},   {Call::WaveInPrepare, 2},   {Call::WaveInAddBuffer, 0},
        {Call::WaveInAddBuffer, 3}, {Call::WaveInStart, 0},
    };
    for (const Step& step : steps) {
        dummy::reset();
        dummy::fail(step.call, WAVERR_BADFORMAT, step.skip);
        EXPECT_EQ(open(256, 4), 0) << "call " << static_cast<int>(step.call) << " skip " << step.skip;
        dummy::MicState mic = dummy::mic_state();
        EXPECT_EQ(mic.devices, 0);
        EXPECT_EQ(mic.preparedHeaders, 0);
        EXPECT_FALSE(dummy::event_exists("Sound In Buffer Status"));
    }
}

TEST_F(CaptureTest, EmptyRingOpensAndItsReaderWaitsForClose) {
    for (jint count : {0, -3}) {
        jint handle = open(256, count);
        ASSERT_NE(handle, 0);
        jbyteArray dest = jni.newByteArray(16);
        jint result = -1;
        std::thread reader([&] { result = read(handle, dest, 0, 16); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(handle);
        reader.join();
        EXPECT_EQ(result, 1);
    }
}

TEST_F(CaptureTest, CaptureSharesTheNamedEventAndLastCloseRemovesIt) {
    jint first = open();
    jint second = open();
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_TRUE(dummy::event_exists("Sound In Buffer Status"));
    close(first);
    EXPECT_TRUE(dummy::event_exists("Sound In Buffer Status"));
    close(second);
    EXPECT_FALSE(dummy::event_exists("Sound In Buffer Status"));
}

// Once the device has opened or closed, its report only says so, and with the event shared
// another capture's reader often takes it first: open and close must not wait for a report
// that is not there. Waiting even 50 ms for it would cost 3 s over these 30 rounds.
TEST_F(CaptureTest, OpenAndCloseNeverWaitForAReportThatIsNotThere) {
    dummy::mic_lose_close_notification(true);
    dummy::mic_delay_notifications(5000);
    long ms = millisecondsTaken([&] {
        for (int round = 0; round < 30; ++round) {
            jint handle = open();
            ASSERT_NE(handle, 0);
            close(handle);
        }
    });
    EXPECT_LT(ms, 1000);
}

TEST_F(CaptureTest, CloseUnpreparesEveryHeaderBeforeTheDeviceCloses) {
    jint handle = open(256, 8);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(dummy::mic_state().preparedHeaders, 8);
    close(handle);
    // A header still prepared would make the device refuse to close, and show here.
    EXPECT_EQ(dummy::mic_state().preparedHeaders, 0);
    EXPECT_EQ(dummy::mic_state().devices, 0);
}

}  // namespace
