#include "audio_checks.h"
#include "capture.h"
#include "check.h"
#include "resources.h"

#include <windows.h>

#include <memory>

namespace {

using namespace capture;

// A Java thread looping on ngetBuffer, with its own JNI environment.
struct Reader {
    Reader(const Voxcap& v, jint h, int n) : voxcap(&v), handle(h), buffers(n) {}
    const Voxcap* voxcap;
    jint handle;
    int buffers;
    FakeJni jni;
    jbyteArray dest = jni.newByteArray(2 * bufferBytes, untouched);
    std::vector<std::int16_t> samples;
    jint result = -1;
    double returnedAt = 0;

    static DWORD WINAPI run(void* self) {
        auto& r = *static_cast<Reader*>(self);
        r.result = record(*r.voxcap, r.jni, r.handle, r.dest, r.buffers, r.samples);
        r.returnedAt = millisecondsNow();
        return 0;
    }
    HANDLE start() { return CreateThread(nullptr, 0, &run, this, 0, nullptr); }
};

// Whether the thread ended within the time; a thread still stuck is left to the process exit.
bool joined(HANDLE thread, DWORD milliseconds) {
    bool ended = WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

void checkCloseWakesReader(const Voxcap& voxcap) {
    FakeJni jni;
    // Buffers of 4 s: the reader is certainly waiting when close comes.
    jint handle = open(voxcap, jni, 4 * tone::sampleRate * 2, 2);
    if (!check(handle != 0, "nopen opens a capture with long buffers")) return;
    std::unique_ptr<Reader> reader(new Reader(voxcap, handle, 1));
    HANDLE thread = reader->start();
    Sleep(500);
    bool wasWaiting = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    double closeStart = millisecondsNow();
    voxcap.nclose(jni.env(), handle);
    double closeTook = millisecondsNow() - closeStart;
    bool readerReturned = joined(thread, 3000);
    double readerTook = reader->returnedAt - closeStart;
    if (!readerReturned) reader.release();  // still in use by the stuck thread
    check(wasWaiting && readerReturned && readerTook < 500,
          "nclose from another thread releases a reader blocked in ngetBuffer",
          "reader %s before close, %s after it (%.0f ms)", wasWaiting ? "waiting" : "not waiting",
          readerReturned ? "returned" : "still blocked", readerTook);
    check(closeTook < 500, "that close takes well under its 2 s bound", "%.0f ms", closeTook);
}

void checkTwoCaptures(const Voxcap& voxcap) {
    FakeJni jni;
    jint first = open(voxcap, jni);
    jint second = open(voxcap, jni);
    if (!check(first != 0 && second != 0, "two captures open at once")) {
        if (first) voxcap.nclose(jni.env(), first);
        if (second) voxcap.nclose(jni.env(), second);
        return;
    }
    std::unique_ptr<Reader> readers[2] = {std::unique_ptr<Reader>(new Reader(voxcap, first, 4 * buffersPerSecond)),
                                          std::unique_ptr<Reader>(new Reader(voxcap, second, 4 * buffersPerSecond))};
    HANDLE threads[2] = {readers[0]->start(), readers[1]->start()};
    bool ended = joined(threads[0], 10000) & joined(threads[1], 10000);  // & : join both either way
    voxcap.nclose(jni.env(), first);
    voxcap.nclose(jni.env(), second);
    if (!ended) {
        check(false, "two captures keep delivering", "a reader is stuck");
        for (auto& r : readers) r.release();  // still in use by a stuck thread
        return;
    }
    for (auto& r : readers) {
        // Judge the last 2 s, once the backlog has settled.
        std::vector<std::int16_t> last(r->samples.begin() + r->samples.size() / 2, r->samples.end());
        long at = tone::firstBreak(last);
        check(r->result == 0 && at < 0 && tone::peak(last) > 4000,
              r->handle == first ? "the first of two captures keeps delivering the tone"
                                 : "the second of two captures keeps delivering the tone",
              "result %ld, break at %ld, peak %d", static_cast<long>(r->result), at, tone::peak(last));
    }
}

// Open, read and close many times: the heap, the handle table and the named event end as they
// began. The first cycles let Wine set up what it keeps for good.
void checkCyclesLeaveNothing(const Voxcap& voxcap) {
    FakeJni jni;
    jbyteArray dest = jni.newByteArray(2 * bufferBytes, untouched);
    std::vector<std::int16_t> samples;
    auto cycle = [&] {
        jint handle = open(voxcap, jni);
        if (handle == 0) return false;
        jint result = record(voxcap, jni, handle, dest, 2, samples);
        voxcap.nclose(jni.env(), handle);
        return result == 0;
    };
    bool allWorked = cycle() && cycle();
    std::size_t heapBefore = processHeapBusyBytes();
    unsigned long handleBefore = nextHandleValue();
    const int cycles = 30;
    for (int i = 0; i < cycles && allWorked; ++i) allWorked = cycle();
    long heapGrowth = static_cast<long>(processHeapBusyBytes() - heapBefore);
    unsigned long handleAfter = nextHandleValue();
    check(allWorked, "30 open/read/close cycles all work");
    check(heapGrowth < 1024, "they leave no memory behind", "process heap grew by %ld bytes", heapGrowth);
    check(handleAfter == handleBefore, "they leave no handle behind", "next handle 0x%lx, was 0x%lx",
          handleAfter, handleBefore);
    check(!namedEventExists(eventName), "the named event is gone after the last close");
}

void checkRefusedOpens(const Voxcap& voxcap) {
    FakeJni jni;
    std::size_t heapBefore = processHeapBusyBytes();
    unsigned long handleBefore = nextHandleValue();
    check(open(voxcap, jni, bufferBytes, 257) == 0, "nopen refuses more than 256 buffers");
    check(open(voxcap, jni, 0, 4) == 0, "nopen refuses buffers of 0 bytes");
    check(open(voxcap, jni, -5, 4) == 0, "nopen refuses buffers of a negative size");
    long heapGrowth = static_cast<long>(processHeapBusyBytes() - heapBefore);
    check(heapGrowth < 1024 && nextHandleValue() == handleBefore && !namedEventExists(eventName),
          "refused opens leave nothing behind", "heap grew by %ld bytes, next handle 0x%lx, was 0x%lx", heapGrowth,
          nextHandleValue(), handleBefore);
    check(jni.vmCalls() == 0, "nopen makes no VM call", "%d calls", jni.vmCalls());
}

}  // namespace

void lifecycleChecks(const Voxcap& voxcap) {
    checkCloseWakesReader(voxcap);
    checkTwoCaptures(voxcap);
    checkCyclesLeaveNothing(voxcap);
    checkRefusedOpens(voxcap);
}

void noDeviceChecks(const Voxcap& voxcap) {
    FakeJni jni;
    // The first attempt lets Wine load its sound drivers, which stay.
    check(open(voxcap, jni) == 0, "nopen gives 0 when there is no recording device");
    std::size_t heapBefore = processHeapBusyBytes();
    unsigned long handleBefore = nextHandleValue();
    bool allRefused = true;
    for (int i = 0; i < 10; ++i) allRefused &= open(voxcap, jni) == 0;
    long heapGrowth = static_cast<long>(processHeapBusyBytes() - heapBefore);
    check(allRefused && heapGrowth < 1024 && nextHandleValue() == handleBefore && !namedEventExists(eventName),
          "failed opens leave nothing behind", "heap grew by %ld bytes, next handle 0x%lx, was 0x%lx", heapGrowth,
          nextHandleValue(), handleBefore);
}
