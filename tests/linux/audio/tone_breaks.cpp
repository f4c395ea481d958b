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

// The resampler rings for a few samples at each edge of a silent cycle; inside, it is quiet.
bool quiet(const std::vector<int>& samples, size_t begin, size_t end, size_t period, int tolerance) {
    for (size_t x = begin + period; x + period < end; ++x)
        if (std::abs(samples[x]) > 4 * tolerance) return false;
    return true;
}

// Where the tone resumes on its clock after a break at `at`, if what lies between is a gap of the
// server's; 0 if it is not.
size_t serverGapEnd(const std::vector<int>& samples, size_t at, size_t period, int tolerance, size_t bufferFrames) {
    if (at < 2 * period) return 0;
    size_t reference = at - 2 * period;
    size_t last = std::min(samples.size(), at + bufferFrames);
    for (size_t resume = at + 1; resume < last; ++resume)
        if (onClock(samples, reference, period, tolerance, resume))
            return quiet(samples, at, resume, period, tolerance) ? resume : 0;
    // A gap that reaches the end of the recording cannot show its clock; it is the server's if
    // it is silent and short.
    if (last == samples.size() && quiet(samples, at, last + period, period, tolerance)) return last;
    return 0;
}

}  // namespace

ToneBreaks findBreaks(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames) {
    ToneBreaks breaks;
    for (size_t n = period; n < samples.size(); ++n) {
        if (std::abs(samples[n] - samples[n - period]) <= tolerance) continue;
        size_t end = serverGapEnd(samples, n, period, tolerance, bufferFrames);
        if (end == 0) {
            breaks.first = static_cast<long>(n);
            return breaks;
        }
        breaks.serverGaps.emplace_back(static_cast<long>(n), static_cast<long>(end));
        n = end + period - 1;  // from here on, a period earlier is the resumed tone again
    }
    return breaks;
}

void expectContinuous(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames) {
    ToneBreaks breaks = findBreaks(samples, period, tolerance, bufferFrames);
    EXPECT_EQ(breaks.first, -1) << "the tone breaks at sample " << breaks.first;
    for (const auto& gap : breaks.serverGaps)
        std::printf("the server missed a cycle: silent samples %ld to %ld, the tone on its clock after them\n",
                    gap.first, gap.second);
}
