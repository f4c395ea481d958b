#include "tone_breaks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The tone as it was in the clean period that starts at `reference`, carried forward on its clock.
int expected(const std::vector<int>& samples, size_t reference, size_t period, size_t at) {
    return samples[reference + (at - reference) % period];
}

bool onClock(const std::vector<int>& samples, size_t reference, size_t period, int tolerance, size_t from) {
    size_t end = std::min(samples.size(), from + 2 * period);
    for (size_t x = from; x < end; ++x)
        if (std::abs(samples[x] - expected(samples, reference, period, x)) > tolerance) return false;
    return true;
}

// Whether sample `n` is the one a period earlier again, as it is wherever the tone runs on.
bool repeats(const std::vector<int>& samples, size_t n, size_t period, int tolerance) {
    return std::abs(samples[n] - samples[n - period]) <= tolerance;
}

bool silent(int sample, int tolerance) { return std::abs(sample) <= 4 * tolerance; }

// The resampler rings for a few samples at each edge of a silent cycle; inside, it is quiet.
bool quiet(const std::vector<int>& samples, size_t begin, size_t end, size_t period, int tolerance) {
    for (size_t x = begin + period; x + period < end; ++x)
        if (!silent(samples[x], tolerance)) return false;
    return true;
}

// A break shows within a period of where the gap began, so a gap that ends before this is
// shorter than a buffer.
size_t shorterThanABuffer(const std::vector<int>& samples, size_t at, size_t period, size_t bufferFrames) {
    return std::min(samples.size(), at + bufferFrames - period);
}

// Where the tone resumes on its clock after a break at `at`, if what lies between is a gap of the
// server's: at least a period of silence between the edges' ringing, and shorter than a buffer.
// 0 if it is not.
size_t serverGapEnd(const std::vector<int>& samples, size_t at, size_t period, int tolerance, size_t bufferFrames) {
    size_t reference = at - 2 * period;
    size_t last = shorterThanABuffer(samples, at, period, bufferFrames);
    for (size_t resume = at + 3 * period; resume < last; ++resume)
        if (onClock(samples, reference, period, tolerance, resume))
            return quiet(samples, at, resume, period, tolerance) ? resume : 0;
    // A gap that reaches the end of the recording cannot show its clock; it is the server's if
    // it is silent and short. Only its first period, where it may ring, goes unjudged.
    if (last == samples.size() && quiet(samples, at, last + period, period, tolerance)) return last;
    return 0;
}

// Where the tone comes back after a silent stretch that begins at `at`: past a period of the
// fade's ringing, at least a period of silence, and the whole stretch shorter than a buffer (or
// reaching the recording's end). 0 if it is no such stretch.
size_t silenceEnd(const std::vector<int>& samples, size_t at, size_t period, int tolerance, size_t bufferFrames) {
    size_t last = shorterThanABuffer(samples, at, period, bufferFrames);
    size_t resume = std::min(samples.size(), at + period);
    while (resume < last && silent(samples[resume], tolerance)) ++resume;
    if (resume == samples.size()) return resume;
    return resume >= at + 2 * period && resume < last ? resume : 0;
}

// Whether the period that starts at `at` is the clean period at `reference` moved by whole samples,
// as it is after a buffer of ours was lost, repeated or reordered.
bool wholeSamplesFrom(const std::vector<int>& samples, size_t reference, size_t period, int tolerance, size_t at) {
    for (size_t shift = 0; shift < period; ++shift) {
        size_t i = 0;
        while (i < period && std::abs(samples[at + i] - samples[reference + (i + shift) % period]) <= tolerance) ++i;
        if (i == period) return true;
    }
    return false;
}

// A sine's energy over a period is the same at any phase; silence, or 16-bit samples read a byte
// out of step, repeat themselves too but are far from it.
bool sameLoudness(const std::vector<int>& samples, size_t reference, size_t period, size_t at) {
    double before = 0, after = 0;
    for (size_t i = 0; i < period; ++i) {
        before += double(samples[reference + i]) * samples[reference + i];
        after += double(samples[at + i]) * samples[at + i];
    }
    return std::abs(after - before) <= before / 5;
}

// Whether the tone repeats itself period after period for two periods from `from`.
bool runsOn(const std::vector<int>& samples, size_t from, size_t period, int tolerance) {
    for (size_t x = from; x < from + 2 * period; ++x)
        if (!repeats(samples, x, period, tolerance)) return false;
    return true;
}

// Within a period of a buffer's edge, where a buffer of ours begins with another's audio, or a
// buffer filled only in part ends in silence.
bool nearBufferEdge(size_t at, size_t period, size_t bufferFrames) {
    size_t offset = at % bufferFrames;
    return offset < period || bufferFrames - offset < period;
}

// PipeWire's resampler can start over after a late cycle: the tone goes straight on, at another
// fraction of a sample's phase, after a period of its filter's ringing. A buffer of ours can move
// it only by whole samples. Where the tone runs clean again within two periods of the break, at a
// phase no whole-sample move explains, this is where; 0 otherwise. Not at a buffer's edge: another
// stream's audio in a buffer of ours (each stream has a resampler, and a phase, of its own) would
// begin there, where a restart of the server's almost never falls.
size_t resamplerRestartEnd(const std::vector<int>& samples, size_t at, size_t period, int tolerance, size_t bufferFrames) {
    if (at % bufferFrames < period) return 0;
    size_t reference = at - 2 * period;
    for (size_t resume = at + 1; resume <= at + 2 * period && resume + 3 * period <= samples.size(); ++resume) {
        if (runsOn(samples, resume + period, period, tolerance))
            return sameLoudness(samples, reference, period, resume) &&
                           !wholeSamplesFrom(samples, reference, period, tolerance, resume)
                       ? resume
                       : 0;
    }
    return 0;
}

// A cycle the server missed can also lose the tone's place in its streams (seen on pipewire-pulse
// at load 9): the cycle comes out silent as ever, but the tone comes back at another phase,
// sometimes whole samples away. Where it resumes at its own loudness after a silent stretch
// shorter than a buffer, this is where; 0 otherwise. Not when the silence begins or ends at a
// buffer's edge, where a buffer of ours filled only in part, or one from another capture, would
// put it: within a buffer of ours, only the server's audio is silent.
size_t lostPlaceGapEnd(const std::vector<int>& samples, size_t at, size_t period, int tolerance, size_t bufferFrames) {
    if (nearBufferEdge(at, period, bufferFrames)) return 0;
    size_t resume = silenceEnd(samples, at, period, tolerance, bufferFrames);
    if (resume == 0 || resume + 4 * period > samples.size() || nearBufferEdge(resume, period, bufferFrames)) return 0;
    size_t settled = resume + period;  // past the ringing as the tone comes back
    return runsOn(samples, settled + period, period, tolerance) && sameLoudness(samples, at - 2 * period, period, settled)
               ? resume
               : 0;
}

}  // namespace

ToneBreaks findBreaks(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames) {
    ToneBreaks breaks;
    // The recording may begin inside a gap: the tone's clock starts where the tone does.
    size_t clock = 0;  // from here on, each period of the tone is the one before it again
    while (clock < samples.size() && silent(samples[clock], tolerance)) ++clock;
    if (clock + period >= std::min(samples.size(), bufferFrames)) {
        breaks.first = 0;
        return breaks;
    }
    if (clock >= period) breaks.serverGaps.emplace_back(0, static_cast<long>(clock));
    if (clock > 0) clock += period;  // past the ringing as the tone comes in
    for (size_t n = clock + period; n < samples.size(); ++n) {
        if (repeats(samples, n, period, tolerance)) continue;
        // Right after a gap, the tone has not yet shown its clock, so a second gap there has
        // nothing to be checked against: it is the server's if it is silent and short, as one at
        // the end is.
        bool clocked = n >= clock + 2 * period;
        size_t end = clocked ? serverGapEnd(samples, n, period, tolerance, bufferFrames)
                             : silenceEnd(samples, n, period, tolerance, bufferFrames);
        if (end != 0) {
            breaks.serverGaps.emplace_back(static_cast<long>(n), static_cast<long>(end));
        } else if (clocked && (end = resamplerRestartEnd(samples, n, period, tolerance, bufferFrames)) != 0) {
            breaks.resamplerRestarts.emplace_back(static_cast<long>(n), static_cast<long>(end));
        } else if (clocked && (end = lostPlaceGapEnd(samples, n, period, tolerance, bufferFrames)) != 0) {
            breaks.lostPlaceGaps.emplace_back(static_cast<long>(n), static_cast<long>(end));
        } else {
            breaks.first = static_cast<long>(n);
            return breaks;
        }
        clock = end + period;  // past any ringing as the tone comes back
        n = clock + period - 1;
    }
    return breaks;
}

void expectContinuous(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames) {
    ToneBreaks breaks = findBreaks(samples, period, tolerance, bufferFrames);
    EXPECT_EQ(breaks.first, -1) << "the tone breaks at sample " << breaks.first;
    for (const auto& gap : breaks.serverGaps)
        std::printf("the server missed a cycle: silent samples %ld to %ld, the tone on its clock after them\n",
                    gap.first, gap.second);
    for (const auto& gap : breaks.lostPlaceGaps)
        std::printf("the server missed a cycle and lost the tone's place: silent samples %ld to %ld, the tone on at "
                    "another phase after them\n",
                    gap.first, gap.second);
    for (const auto& restart : breaks.resamplerRestarts)
        std::printf("the server's resampler started over at sample %ld: the tone on at another phase from %ld\n",
                    restart.first, restart.second);
}
