#include "audio_checks.h"
#include "capture.h"
#include "check.h"
#include "resources.h"

namespace {

using namespace capture;

// Each bad read on a live capture returns 1 without touching the array, pinning it or asking
// the VM for more than its length. Whether it moved the ring shows in the tone around it.
void checkRefusedReads(const Voxcap& voxcap, FakeJni& jni, jint handle) {
    struct BadRead {
        const char* what;
        bool zeroHandle;
        bool nullArray;
        jint offset;
        jint length;
    };
    const BadRead reads[] = {
        {"ngetBuffer refuses handle 0", true, false, 0, bufferBytes},
        {"ngetBuffer refuses a null array", false, true, 0, bufferBytes},
        {"ngetBuffer refuses a negative offset", false, false, -1, bufferBytes},
        {"ngetBuffer refuses a negative length", false, false, 0, -1},
        {"ngetBuffer refuses a length over the buffer size", false, false, 0, bufferBytes + 1},
        {"ngetBuffer refuses an offset + length that overflows", false, false, 0x7FFFFF00, bufferBytes},
        {"ngetBuffer refuses an offset + length one past the array", false, false, bufferBytes + 1, bufferBytes},
    };
    jbyteArray dest = jni.newByteArray(2 * bufferBytes, untouched);
    for (const BadRead& read : reads) {
        int callsBefore = jni.vmCalls();
        jint result = voxcap.ngetBuffer(jni.env(), read.zeroHandle ? 0 : handle, read.nullArray ? nullptr : dest,
                                        read.offset, read.length);
        int vmCalls = jni.vmCalls() - callsBefore;
        bool intact = untouchedBytes(jni, dest, 0, 2 * bufferBytes);
        check(result == 1 && intact && vmCalls <= 1 && *jniMisuse(jni) == 0, read.what,
              "result %ld, array %s, %d VM calls, misuse '%s'", static_cast<long>(result),
              intact ? "intact" : "written", vmCalls, jniMisuse(jni));
    }
}

}  // namespace

void recordingChecks(const Voxcap& voxcap) {
    FakeJni jni;
    jint handle = open(voxcap, jni);
    if (!check(handle != 0, "nopen opens the default recording device")) return;
    jbyteArray dest = jni.newByteArray(2 * bufferBytes, untouched);
    std::vector<std::int16_t> settling, heard;
    // The sound server's backlog settles in the first second or so.
    jint result = record(voxcap, jni, handle, dest, 2 * buffersPerSecond, settling);
    if (result == 0) result = record(voxcap, jni, handle, dest, 2 * buffersPerSecond, heard);
    checkRefusedReads(voxcap, jni, handle);
    if (result == 0) result = record(voxcap, jni, handle, dest, 2 * buffersPerSecond, heard);
    voxcap.nclose(jni.env(), handle);

    check(result == 0, "ngetBuffer hands over buffer after buffer for 6 s", "result %ld",
          static_cast<long>(result));
    long at = tone::firstBreak(heard);
    check(at < 0 && heard.size() == 4u * tone::sampleRate,
          "the last 4 s arrive whole and in order, refused reads between them",
          "%lu samples, period broken at sample %ld (buffer %ld)", static_cast<unsigned long>(heard.size()), at,
          at / (bufferBytes / 2));
    check(tone::peak(heard) > 4000, "what arrives is the tone, not silence", "peak %d", tone::peak(heard));
    check(untouchedBytes(jni, dest, 0, bufferBytes), "ngetBuffer writes nothing before the offset");
    check(!namedEventExists(eventName), "closing the last capture removes the named event");
    check(*jniMisuse(jni) == 0, "the capture uses the JNI array functions correctly", "%s", jniMisuse(jni));
}
