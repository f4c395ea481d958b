// The environment's tone as a capture records it (tests/env/devices.sh --tone 7).
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "microphone_fixture.h"

const double kTonePeriodSeconds = 7.0 / 8000;
// How long the source takes to settle once a capture starts (PipeWire's resampler rises into the
// tone).
constexpr std::chrono::milliseconds kSettling{1500};

// A capture's recording, once the source's backlog has settled.
class RecordingTest : public MicrophoneTest {
protected:
    // The first channel of `seconds` of recording, as 16-bit values, after what arrives in the
    // first moments.
    std::vector<int> record(jint handle, Format f, jint bufferSize, double seconds) {
        std::vector<int> samples;
        jbyteArray dest = jni.newByteArray(bufferSize);
        auto settled = std::chrono::steady_clock::now() + kSettling;
        while (std::chrono::steady_clock::now() < settled)
            if (read(handle, dest, bufferSize) != 0) return samples;
        int frame = f.channels * f.bits / 8;
        long bytes = static_cast<long>(seconds * f.rate) * frame;
        for (long got = 0; got < bytes; got += bufferSize) {
            if (read(handle, dest, bufferSize) != 0) break;
            const auto* b = reinterpret_cast<const uint8_t*>(jni.bytes(dest));
            for (int i = 0; i + frame <= bufferSize; i += frame)
                samples.push_back(f.bits == 8 ? (b[i] - 128) << 8 : static_cast<int16_t>(b[i] | b[i + 1] << 8));
        }
        return samples;
    }
};
