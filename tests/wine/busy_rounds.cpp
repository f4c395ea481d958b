#include "busy_rounds.h"

#include "capture.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace capture {

namespace {

struct BusyReader {
    const Voxcap* voxcap;
    jint handle;
    jint size;
    FakeJni jni;
    jbyteArray dest = nullptr;

    static DWORD WINAPI run(void* self) {
        auto& r = *static_cast<BusyReader*>(self);
        while (r.voxcap->ngetBuffer(r.jni.env(), r.handle, r.dest, 0, r.size) == 0) {
        }
        return 0;
    }
};

}  // namespace

BusyRounds openCloseRounds(const Voxcap& voxcap, int busyCaptures, int rounds) {
    const jint longBuffer = tone::sampleRate * 2;
    BusyRounds result{true, true, true, 0, 0};
    FakeJni jni;
    std::vector<std::unique_ptr<BusyReader>> readers;
    for (int i = 0; i < busyCaptures; ++i) {
        readers.emplace_back(new BusyReader{&voxcap, open(voxcap, jni, longBuffer, 2), longBuffer, {}});
        readers.back()->dest = readers.back()->jni.newByteArray(longBuffer);
        result.busyOpened = result.busyOpened && readers.back()->handle != 0;
    }
    if (!result.busyOpened) {
        for (auto& r : readers)
            if (r->handle) voxcap.nclose(jni.env(), r->handle);
        return result;
    }
    std::vector<HANDLE> threads;
    for (auto& r : readers) threads.push_back(CreateThread(nullptr, 0, &BusyReader::run, r.get(), 0, nullptr));
    Sleep(300);
    for (int round = 0; round < rounds && result.allOpened; ++round) {
        double start = millisecondsNow();
        jint handle = open(voxcap, jni);
        double opened = millisecondsNow();
        result.allOpened = handle != 0;
        if (handle) voxcap.nclose(jni.env(), handle);
        double closed = millisecondsNow();
        if (opened - start > result.slowestOpenMs) result.slowestOpenMs = opened - start;
        if (closed - opened > result.slowestCloseMs) result.slowestCloseMs = closed - opened;
    }
    for (auto& r : readers) voxcap.nclose(jni.env(), r->handle);
    for (HANDLE thread : threads) {
        result.readersEnded = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0 && result.readersEnded;
        CloseHandle(thread);
    }
    if (!result.readersEnded)
        for (auto& r : readers) r.release();  // still in use by a stuck thread
    return result;
}

}  // namespace capture
