// The test tone the virtual microphone plays (env.sh --tone 7): a sine whose period is 7
// samples at 8000 Hz mono 16-bit. Capture buffers of 500 samples are not a multiple of 7, so a
// buffer dropped, repeated or delivered out of order breaks the period where it happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tone {

const int sampleRate = 8000;
const int period = 7;

// Appends little-endian 16-bit samples.
void append(std::vector<std::int16_t>& samples, const signed char* bytes, std::size_t count);

// Index of the first sample that differs from the one a period earlier, or -1.
long firstBreak(const std::vector<std::int16_t>& samples);

int peak(const std::vector<std::int16_t>& samples);

}  // namespace tone
