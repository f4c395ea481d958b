// The continuity check on real recordings of a missed cycle after which the server had lost the
// tone's place: forgiven and named, while faults of ours put into the same recording around that
// gap still break the tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "recorded_lost_places.h"
#include "tone_breaks.h"

namespace {

const size_t kPeriod = 14, kBuffer = 1600;  // 16000 Hz
const int kTolerance = 400;
const size_t kSilent = 513, kBack = 1197;  // where kStoodStill's gap begins and the tone comes back

ToneBreaks breaksIn(const std::vector<int>& samples) { return findBreaks(samples, kPeriod, kTolerance, kBuffer); }

// kStoodStill's buffers, in the order given.
std::vector<int> buffers(std::initializer_list<size_t> order) {
    std::vector<int> samples;
    for (size_t i : order)
        samples.insert(samples.end(), kStoodStill.begin() + i * kBuffer, kStoodStill.begin() + (i + 1) * kBuffer);
    return samples;
}

TEST(RecordedLostPlaces, AMissedCycleAfterWhichTheToneCameBackAtAnotherPhaseIsForgivenAndNamed) {
    for (const auto* recording : {&kStoodStill, &kACycleMoreLost}) {
        ToneBreaks breaks = breaksIn(*recording);
        EXPECT_EQ(breaks.first, -1);
        EXPECT_EQ(breaks.lostPlaceGaps.size(), 1u);
        EXPECT_TRUE(breaks.serverGaps.empty());
        EXPECT_TRUE(breaks.resamplerRestarts.empty());
    }
    ToneBreaks breaks = breaksIn(kStoodStill);
    ASSERT_EQ(breaks.lostPlaceGaps.size(), 1u);
    EXPECT_NEAR(breaks.lostPlaceGaps[0].first, kSilent, kPeriod);
    EXPECT_NEAR(breaks.lostPlaceGaps[0].second, kBack, kPeriod);
}

TEST(RecordedLostPlaces, ABufferOfOursLostRepeatedOrSwappedAfterTheGapIsABreak) {
    EXPECT_EQ(breaksIn(buffers({0, 2})).first, static_cast<long>(kBuffer));
    EXPECT_EQ(breaksIn(buffers({0, 0})).first, static_cast<long>(kBuffer));
    EXPECT_EQ(breaksIn(buffers({0, 2, 1})).first, static_cast<long>(kBuffer));
}

TEST(RecordedLostPlaces, AGapOfOursOrLoudAudioInItIsABreak) {
    // Stale audio, the recording's own from before, where the server's cycle was silent.
    std::vector<int> samples = kStoodStill;
    std::copy(samples.begin(), samples.begin() + (kBack - kSilent), samples.begin() + kSilent);
    EXPECT_NEAR(breaksIn(samples).first, kSilent, kPeriod);
    // Silence up to the buffer's edge, the next buffer going on: one handed over filled in part.
    samples = kStoodStill;
    std::fill(samples.begin() + kSilent, samples.begin() + kBuffer, 0);
    EXPECT_NEAR(breaksIn(samples).first, kSilent, kPeriod);
    // Silence a buffer long.
    samples = kStoodStill;
    std::fill(samples.begin() + kSilent, samples.begin() + kSilent + kBuffer, 0);
    EXPECT_NEAR(breaksIn(samples).first, kSilent, kPeriod);
}

TEST(RecordedLostPlaces, TheToneBackWithItsBytesOutOfStepOrAGlitchIsABreak) {
    // Bytes out of step are periodic too, but no sine of the tone's loudness: the gap is not
    // forgiven.
    std::vector<int> samples = kStoodStill;
    for (size_t n = kBack; n + 1 < samples.size(); ++n)
        samples[n] = static_cast<int16_t>((kStoodStill[n] >> 8 & 0xFF) | (kStoodStill[n + 1] & 0xFF) << 8);
    EXPECT_NEAR(breaksIn(samples).first, kSilent, kPeriod);
    samples = kStoodStill;
    size_t glitch = kBack + 4 * kPeriod;
    samples[glitch] = -samples[glitch];
    EXPECT_EQ(breaksIn(samples).first, static_cast<long>(glitch));
}

}  // namespace
