#include "audio_checks.h"
#include "capture.h"
#include "check.h"
#include "resources.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <memory>

namespace {

using namespace capture;

// What a cycle of the leak check leaks on purpose, to prove the check catches it.
enum class Leak { None, Memory, Handle };

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
    // A close that misses its notices waits out the 2 s bound; one that works takes milliseconds.
    check(wasWaiting && readerReturned && readerTook < 1000,
          "nclose from another thread releases a reader blocked in ngetBuffer",
          "reader %s before close, %s after it (%.0f ms)", wasWaiting ? "waiting" : "not waiting",
          readerReturned ? "returned" : "still blocked", readerTook);
    check(closeTook < 1000, "that close takes well under its 2 s bound", "%.0f ms", closeTook);
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
    // Both are joined, whether or not the first one ends.
    bool firstEnded = joined(threads[0], 10000);
    bool ended = joined(threads[1], 10000) && firstEnded;
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

// How many actions each leak check repeats: five runs of 40, so that a one-off allocation of a
// few KB in one run cannot move the median.
const int leakRuns = 5;
const int actionsPerRun = 40;
const Residue nothing{};

// The heap a cycle may leave behind, per cycle: below the 32 bytes that the check must catch, and
// far below any leak of a cycle's own (a buffer of 160 bytes, a header, the block).
const long cycleLeakBytes = 12;
// A failed or refused open acquires at most its block (several KB) and its event, so a leak there
// is at least a KB. With no audio driver, Wine's heap creeps around failed format queries, by 24
// bytes every few queries and unevenly: up to 15 bytes per open beyond the bare calls' median, seen
// on arm64 Wine.
const long failedOpenLeakBytes = 1024;

// The figures behind a verdict, for its report.
struct Description {
    char text[240];
};

Description describe(const Residue& residue, const Residue& platform) {
    Description d{};
    int used = std::snprintf(d.text, sizeof d.text, "heap growth per run of %d:", residue.perRun);
    for (int run = 0; run < residue.runs; ++run)
        used += std::snprintf(d.text + used, sizeof d.text - used, " %ld", residue.heapGrowth[run]);
    std::snprintf(d.text + used, sizeof d.text - used, " bytes (the platform's own calls: %ld); %ld handles",
                  platform.medianHeapGrowth, residue.medianHandleGrowth);
    return d;
}

// `leak` says the action leaks on purpose: then the check must catch it.
void checkLeaks(const char* what, const Residue& residue, const Residue& platform, long bytesPerAction,
                bool leak = false) {
    bool clean = leavesNoMoreThan(residue, platform, bytesPerAction);
    check(residue.allWorked && clean != leak, what, "%s%s", residue.allWorked ? "" : "an action failed; ",
          describe(residue, platform).text);
}

// The platform calls of an open that leak on their own under Wine, bare: the named event and the
// format query.
bool platformOpenCalls() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, eventName);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, tone::sampleRate, 2 * tone::sampleRate, 2, 16, 0};
    waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY);
    return event && CloseHandle(event);
}

// Open, read and close many times: the heap, the handle table and the named event end as they
// began. Short buffers keep each cycle quick.
void checkCyclesLeaveNothing(const Voxcap& voxcap, Leak leak) {
    FakeJni jni;
    const jint shortBuffer = 160;
    jbyteArray dest = jni.newByteArray(2 * shortBuffer, untouched);
    auto cycle = [&] {
        jint handle = open(voxcap, jni, shortBuffer, 4);
        if (handle == 0) return false;
        jint result = 0;
        for (int i = 0; i < 2 && result == 0; ++i)
            result = voxcap.ngetBuffer(jni.env(), handle, dest, shortBuffer, shortBuffer);
        voxcap.nclose(jni.env(), handle);
        if (leak == Leak::Memory) GlobalAlloc(GMEM_FIXED, 32);
        if (leak == Leak::Handle) CreateEventA(nullptr, FALSE, FALSE, nullptr);
        return result == 0;
    };
    // The first cycles let Wine set up what it keeps for good.
    for (int i = 0; i < 3; ++i) cycle();
    Residue platform = residueOf(leakRuns, actionsPerRun, platformOpenCalls);
    Residue residue = residueOf(leakRuns, actionsPerRun, cycle);
    switch (leak) {
    case Leak::None:
        checkLeaks("open/read/close cycles leave no memory and no handle behind", residue, platform,
                   cycleLeakBytes);
        check(!namedEventExists(eventName), "the named event is gone after the last close");
        break;
    case Leak::Memory:
        checkLeaks("the leak check catches 32 bytes of GlobalAlloc leaked per cycle", residue, platform,
                   cycleLeakBytes, true);
        break;
    case Leak::Handle:
        checkLeaks("the leak check catches an event handle leaked per cycle", residue, platform, cycleLeakBytes,
                   true);
        break;
    }
}

void checkRefusedOpens(const Voxcap& voxcap) {
    FakeJni jni;
    Residue residue = residueOf(leakRuns, actionsPerRun, [&] {
        return open(voxcap, jni, bufferBytes, 257) == 0 && open(voxcap, jni, 0, 4) == 0 &&
               open(voxcap, jni, -5, 4) == 0;
    });
    checkLeaks("nopen refuses more than 256 buffers, and buffers of 0 or fewer bytes, leaving nothing behind",
               residue, nothing, failedOpenLeakBytes);
    check(!namedEventExists(eventName), "refused opens leave no named event");
    check(jni.vmCalls() == 0, "nopen makes no VM call", "%d calls", jni.vmCalls());
}

}  // namespace

void lifecycleChecks(const Voxcap& voxcap) {
    checkCloseWakesReader(voxcap);
    checkTwoCaptures(voxcap);
    checkCyclesLeaveNothing(voxcap, Leak::None);
    checkRefusedOpens(voxcap);
}

void leakCheckChecks(const Voxcap& voxcap) {
    checkCyclesLeaveNothing(voxcap, Leak::Memory);
    checkCyclesLeaveNothing(voxcap, Leak::Handle);
}

void noDeviceChecks(const Voxcap& voxcap) {
    FakeJni jni;
    // The first attempt lets Wine load its sound drivers, which stay.
    check(open(voxcap, jni) == 0, "nopen gives 0 when there is no recording device");
    Residue platform = residueOf(leakRuns, actionsPerRun, platformOpenCalls);
    Residue residue = residueOf(leakRuns, actionsPerRun, [&] { return open(voxcap, jni) == 0; });
    checkLeaks("every later open gives 0 too, leaving nothing behind", residue, platform, failedOpenLeakBytes);
    check(!namedEventExists(eventName), "failed opens leave no named event");
}
