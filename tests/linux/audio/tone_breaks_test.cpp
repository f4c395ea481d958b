// The check of the tone's continuity forgives the server's missed cycles and resampler restarts
// and nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tone_breaks.h"

namespace {

const size_t kPeriod = 7, kBuffer = 800, kCycle = 341;  // 42.7 ms at 8 kHz
const int kTolerance = 400;

// The tone from sample `from`, sampled `phase` of a sample later than the clock's grid.
std::vector<int> tone(size_t from, size_t count, double phase = 0) {
    std::vector<int> samples;
    for (size_t n = from; n < from + count; ++n)
        samples.push_back(static_cast<int>(std::lround(16384 * std::sin(2 * M_PI * (static_cast<double>(n) + phase) / kPeriod))));
    return samples;
}

std::vector<int> joined(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ToneBreaks, ACycleTheServerMissedIsForgivenAndNamed) {
    std::vector<int> samples = tone(0, 8000);
    std::fill(samples.begin() + 3000, samples.begin() + 3000 + kCycle, 0);
    ToneBreaks breaks = findBreaks(samples, kPeriod, kTolerance, kBuffer);
    EXPECT_EQ(breaks.first, -1);
    ASSERT_EQ(breaks.serverGaps.size(), 1u);
    EXPECT_NEAR(breaks.serverGaps[0].first, 3000, 1);
    EXPECT_NEAR(breaks.serverGaps[0].second, 3000 + kCycle, 1);

    // Also as the last thing recorded, and twice in one recording.
    std::fill(samples.end() - 100, samples.end(), 0);
    std::fill(samples.begin() + 6000, samples.begin() + 6000 + kCycle, 0);
    breaks = findBreaks(samples, kPeriod, kTolerance, kBuffer);
    EXPECT_EQ(breaks.first, -1);
    EXPECT_EQ(breaks.serverGaps.size(), 3u);

    // At the very start, or straddling the first sample: the recording begins inside the gap.
    for (size_t begin : {0, 10}) {
        samples = tone(0, 8000);
        std::fill(samples.begin() + begin, samples.begin() + begin + kCycle, 0);
        breaks = findBreaks(samples, kPeriod, kTolerance, kBuffer);
        EXPECT_EQ(breaks.first, -1) << "a gap from " << begin;
        EXPECT_EQ(breaks.serverGaps.size(), 1u) << "a gap from " << begin;
    }
}

TEST(ToneBreaks, AResamplerStartingOverAtAnotherFractionOfASampleIsForgivenAndNamed) {
    for (double phase : {0.25, 0.5, 3.25}) {
        ToneBreaks breaks = findBreaks(joined(tone(0, 4100), tone(4100, 4000, phase)), kPeriod, kTolerance, kBuffer);
        EXPECT_EQ(breaks.first, -1) << phase;
        ASSERT_EQ(breaks.resamplerRestarts.size(), 1u) << phase;
        EXPECT_NEAR(breaks.resamplerRestarts[0].first, 4100, kPeriod);
    }
    // Not at a buffer's edge, where another capture's audio in a buffer of ours would begin.
    EXPECT_EQ(findBreaks(joined(tone(0, 4000), tone(4000, 4000, 0.25)), kPeriod, kTolerance, kBuffer).first, 4000);
    // Not when what follows is no clean tone, nor when it is 16-bit samples read a byte out of
    // step (periodic too, but no sine).
    std::vector<int> samples = joined(tone(0, 4100), tone(4100, 4100, 0.25));
    for (size_t n = 4100; n < 4100 + 3 * kPeriod; n += 3) samples[n] = -samples[n];
    EXPECT_NE(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, -1);
    std::vector<int> later = tone(4100, 4001);
    std::vector<int> outOfStep;
    for (size_t n = 0; n + 1 < later.size(); ++n)
        outOfStep.push_back(static_cast<int16_t>((later[n] >> 8 & 0xFF) | (later[n + 1] & 0xFF) << 8));
    EXPECT_EQ(findBreaks(joined(tone(0, 4100), outOfStep), kPeriod, kTolerance, kBuffer).first, 4100);
}

TEST(ToneBreaks, ABufferLostRepeatedOrSwappedIsABreak) {
    // Lost: the next buffer carries on from further along the tone.
    EXPECT_EQ(findBreaks(joined(tone(0, 4000), tone(4000 + kBuffer, 4000)), kPeriod, kTolerance, kBuffer).first, 4000);
    // Repeated.
    EXPECT_EQ(findBreaks(joined(tone(0, 4000), tone(4000 - kBuffer, 4000)), kPeriod, kTolerance, kBuffer).first, 4000);
    // Out of order.
    std::vector<int> swapped = joined(joined(tone(0, 4000), tone(4000 + kBuffer, kBuffer)), tone(4000, 4000));
    EXPECT_EQ(findBreaks(swapped, kPeriod, kTolerance, kBuffer).first, 4000);
}

TEST(ToneBreaks, ACycleAfterWhichTheToneCameBackAtAnotherPhaseIsForgivenAndNamed) {
    // The tone where it stopped rather than where its clock is, within a buffer.
    std::vector<int> late = joined(joined(tone(0, 4100), std::vector<int>(kCycle, 0)), tone(4100, 4000));
    ToneBreaks breaks = findBreaks(late, kPeriod, kTolerance, kBuffer);
    EXPECT_EQ(breaks.first, -1);
    ASSERT_EQ(breaks.lostPlaceGaps.size(), 1u);
    EXPECT_NEAR(breaks.lostPlaceGaps[0].first, 4100, kPeriod);
    EXPECT_NEAR(breaks.lostPlaceGaps[0].second, 4100 + kCycle, kPeriod);
    // Not when it comes back as 16-bit samples read a byte out of step (periodic too, but no sine).
    std::vector<int> later = tone(4100, 4001);
    std::vector<int> outOfStep;
    for (size_t n = 0; n + 1 < later.size(); ++n)
        outOfStep.push_back(static_cast<int16_t>((later[n] >> 8 & 0xFF) | (later[n + 1] & 0xFF) << 8));
    late = joined(joined(tone(0, 4100), std::vector<int>(kCycle, 0)), outOfStep);
    EXPECT_NEAR(findBreaks(late, kPeriod, kTolerance, kBuffer).first, 4100, kPeriod);
}

TEST(ToneBreaks, SilenceOffTheClockAtABuffersEdgeOrAsLongAsABufferIsABreak) {
    // Silence, then the tone off its clock, where a buffer of ours begins or ends: one handed over
    // filled only in part, or beginning with another's audio.
    std::vector<int> late = joined(joined(tone(0, 4000), std::vector<int>(kCycle, 0)), tone(4000, 4000));
    EXPECT_NE(findBreaks(late, kPeriod, kTolerance, kBuffer).first, -1);
    late = joined(joined(tone(0, 4000 - kCycle), std::vector<int>(kCycle, 0)), tone(4000 - kCycle, 4000));
    EXPECT_NE(findBreaks(late, kPeriod, kTolerance, kBuffer).first, -1);
    // On the clock but a whole buffer long.
    std::vector<int> samples = tone(0, 8000);
    std::fill(samples.begin() + 3000, samples.begin() + 3000 + kBuffer, 0);
    EXPECT_EQ(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, 3000);
    // Also where it starts as the tone crosses zero, so that the break shows a sample late.
    samples = tone(0, 8000);
    std::fill(samples.begin() + 2996, samples.begin() + 2996 + kBuffer, 0);
    EXPECT_NE(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, -1);
    // A last buffer handed over unwritten.
    samples = tone(0, 8000);
    std::fill(samples.end() - kBuffer, samples.end(), 0);
    EXPECT_NE(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, -1);
}

TEST(ToneBreaks, LoudAudioInAGapOrAGlitchTooShortForACycleIsABreak) {
    // Stale audio (the tone at another phase) where the server's cycle would be silent.
    std::vector<int> samples = tone(0, 8000);
    std::vector<int> stale = tone(3, kCycle);
    std::copy(stale.begin(), stale.end(), samples.begin() + 3000);
    EXPECT_EQ(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, 3000);

    // Two periods of loud samples, or one sample inverted, with the tone on its clock after them.
    samples = tone(0, 8000);
    std::fill(samples.begin() + 3000, samples.begin() + 3000 + 2 * kPeriod, 16000);
    EXPECT_EQ(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, 3000);
    samples = tone(0, 8000);
    samples[3001] = -samples[3001];
    EXPECT_EQ(findBreaks(samples, kPeriod, kTolerance, kBuffer).first, 3001);
}

}  // namespace
