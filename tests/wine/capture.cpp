#include "capture.h"

#include <windows.h>

namespace capture {

jint open(const Voxcap& voxcap, FakeJni& jni, jint bufferSize, jint count) {
    return voxcap.nopen(jni.env(), tone::sampleRate, 1, 16, bufferSize, count);
}

jint record(const Voxcap& voxcap, FakeJni& jni, jint handle, jbyteArray dest, int buffers,
            std::vector<std::int16_t>& samples) {
    for (int i = 0; i < buffers; ++i) {
        jint result = voxcap.ngetBuffer(jni.env(), handle, dest, bufferBytes, bufferBytes);
        if (result != 0) return result;
        tone::append(samples, jni.bytes(dest) + bufferBytes, bufferBytes);
    }
    return 0;
}

bool untouchedBytes(FakeJni& jni, jbyteArray array, jsize from, jsize to) {
    for (jsize i = from; i < to; ++i)
        if (jni.bytes(array)[i] != untouched) return false;
    return true;
}

const char* jniMisuse(const FakeJni& jni) {
    return jni.violations() > 0 ? jni.firstViolation() : "";
}

double millisecondsNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace capture
