#include "tone.h"

#include <cstdlib>

namespace tone {

namespace {
// The tone file is exact to the last bit, but allow for a rounding step on the way.
const int tolerance = 2;
}  // namespace

void append(std::vector<std::int16_t>& samples, const signed char* bytes, std::size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i + 1 < count; i += 2)
        samples.push_back(static_cast<std::int16_t>(b[i] | b[i + 1] << 8));
}

long firstBreak(const std::vector<std::int16_t>& samples) {
    for (std::size_t n = period; n < samples.size(); ++n)
        if (std::abs(samples[n] - samples[n - period]) > tolerance) return static_cast<long>(n);
    return -1;
}

int peak(const std::vector<std::int16_t>& samples) {
    int top = 0;
    for (std::int16_t s : samples)
        if (std::abs(s) > top) top = std::abs(s);
    return top;
}

}  // namespace tone
