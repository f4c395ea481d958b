// Helpers shared by the capture checks: the capture format, and a reader that records buffers
// into a Java array the way the Java side does.
#pragma once

#include "fake_jni.h"
#include "libraries.h"
#include "tone.h"

#include <cstdint>
#include <vector>

namespace capture {

const char* const eventName = "Sound In Buffer Status";
const jint bufferBytes = 1000;  // 500 samples, not a multiple of the tone's period
// Two seconds of buffers: a reader held up by a busy machine loses nothing.
const jint bufferCount = 32;
const int buffersPerSecond = tone::sampleRate * 2 / bufferBytes;
const jbyte untouched = 0x3C;

jint open(const Voxcap& voxcap, FakeJni& jni, jint bufferSize = bufferBytes, jint count = bufferCount);

// Reads buffers one after the other into the upper half of dest (so offset + length is exactly
// the array's length) and appends their samples. Stops at the first result other than 0 and
// returns it.
jint record(const Voxcap& voxcap, FakeJni& jni, jint handle, jbyteArray dest, int buffers,
            std::vector<std::int16_t>& samples);

bool untouchedBytes(FakeJni& jni, jbyteArray array, jsize from, jsize to);

// Empty when the fake JNI saw no misuse.
const char* jniMisuse(const FakeJni& jni);

double millisecondsNow();

}  // namespace capture
