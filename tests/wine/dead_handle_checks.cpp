// Handles that name no open capture, on the real DLLs: never opened, closed, closed twice, and
// closed while readers race in. Wine's heap gives a freed block's address to the next block of
// its size, so a capture opened right after a close is where a stale handle would land.
#include "audio_checks.h"
#include "capture.h"
#include "check.h"

#include <windows.h>

#include <memory>

namespace {

using namespace capture;

void checkNeverOpenedAndClosedHandles(const Voxcap& voxcap) {
    FakeJni jni;
    jbyteArray dest = jni.newByteArray(2 * bufferBytes, untouched);
    void* notACapture = GlobalAlloc(GMEM_FIXED, 16384);
    jint never[] = {1, -1, static_cast<jint>(reinterpret_cast<INT_PTR>(notACapture))};
    bool refused = true;
    for (jint handle : never) {
        refused = refused && voxcap.ngetBuffer(jni.env(), handle, dest, 0, bufferBytes) == 1;
        voxcap.nclose(jni.env(), handle);
    }
    GlobalFree(notACapture);
    check(refused && untouchedBytes(jni, dest, 0, 2 * bufferBytes),
          "ngetBuffer refuses handles no capture had, and nclose ignores them");

    int staleRefused = 0, freshWorked = 0, landedOnStale = 0;
    const int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        jint stale = open(voxcap, jni, bufferBytes, 4);
        voxcap.nclose(jni.env(), stale);
        jint fresh = open(voxcap, jni, bufferBytes, 4);
        landedOnStale += fresh == stale;
        staleRefused += stale && voxcap.ngetBuffer(jni.env(), stale, dest, 0, bufferBytes) == 1;
        voxcap.nclose(jni.env(), stale);
        freshWorked += fresh && voxcap.ngetBuffer(jni.env(), fresh, dest, 0, bufferBytes) == 0;
        voxcap.nclose(jni.env(), fresh);
    }
    check(staleRefused == rounds && freshWorked == rounds && landedOnStale == 0,
          "a closed handle is refused, closing it again leaves the next capture open, and it never names that capture",
          "%d of %d refused, %d next captures still delivered, %d landed on the closed one's address", staleRefused,
          rounds, freshWorked, landedOnStale);
}

// One round: a reader loops until refused, two threads close at once, and a read after both
// closes returned must be refused.
struct Round {
    Round(const Voxcap& v, jint h) : voxcap(&v), handle(h) {}
    const Voxcap* voxcap;
    jint handle;
    FakeJni jni;
    jbyteArray dest = jni.newByteArray(bufferBytes);
    FakeJni closerJni;
    jint afterClose = -1;

    static DWORD WINAPI read(void* self) {
        auto& r = *static_cast<Round*>(self);
        while (r.voxcap->ngetBuffer(r.jni.env(), r.handle, r.dest, 0, 2) == 0) {
        }
        return 0;
    }
    static DWORD WINAPI close(void* self) {
        auto& r = *static_cast<Round*>(self);
        r.voxcap->nclose(r.closerJni.env(), r.handle);
        return 0;
    }
};

void checkRacingRounds(const Voxcap& voxcap) {
    const int rounds = 200;
    int opened = 0, ended = 0, refusedAfter = 0;
    FakeJni jni;
    for (int i = 0; i < rounds; ++i) {
        std::unique_ptr<Round> round(new Round(voxcap, open(voxcap, jni, 2 * (i % 7 + 1), 4)));
        if (!round->handle) continue;
        ++opened;
        HANDLE threads[2] = {CreateThread(nullptr, 0, &Round::read, round.get(), 0, nullptr),
                             CreateThread(nullptr, 0, &Round::close, round.get(), 0, nullptr)};
        Sleep(i % 3);
        voxcap.nclose(jni.env(), round->handle);
        bool done = WaitForMultipleObjects(2, threads, TRUE, 5000) == WAIT_OBJECT_0;
        CloseHandle(threads[0]);
        CloseHandle(threads[1]);
        if (!done) {
            round.release();  // still in use by a stuck thread
            break;
        }
        ++ended;
        refusedAfter += voxcap.ngetBuffer(round->jni.env(), round->handle, round->dest, 0, 2) == 1;
    }
    check(opened == rounds && ended == rounds && refusedAfter == rounds,
          "200 rounds of a reader and two closes racing end, and a read after them is refused",
          "%d opened, %d ended, %d refused after close", opened, ended, refusedAfter);
}

// Opens that fail are no closes: the addresses of blocks that never became captures must not push
// a closed capture's address out of those kept from reuse. After one close and 64 refused opens,
// the next capture must not be reachable through the closed one's handle.
void checkRefusedOpensKeepClosedAddressesAside(const Voxcap& voxcap) {
    FakeJni jni;
    jbyteArray dest = jni.newByteArray(bufferBytes, untouched);
    jint stale = open(voxcap, jni, bufferBytes, 4);
    voxcap.nclose(jni.env(), stale);
    // A mutex holding the buffer event's name makes every open fail once its block is allocated.
    HANDLE squatter = CreateMutexA(nullptr, FALSE, eventName);
    int refusedOpens = 0;
    for (int i = 0; i < 64; ++i) refusedOpens += open(voxcap, jni, bufferBytes, 4) == 0;
    CloseHandle(squatter);
    jint fresh = open(voxcap, jni, bufferBytes, 4);
    bool staleRead = fresh && voxcap.ngetBuffer(jni.env(), stale, dest, 0, bufferBytes) != 1;
    check(stale && fresh && refusedOpens == 64 && fresh != stale && !staleRead,
          "refused opens do not let the next capture take a closed capture's address",
          "stale %ld fresh %ld, %d opens refused, the closed handle %s", stale, fresh, refusedOpens,
          staleRead ? "read the new capture's audio" : "was refused");
    voxcap.nclose(jni.env(), fresh);
}

}  // namespace

void deadHandleChecks(const Voxcap& voxcap) {
    checkNeverOpenedAndClosedHandles(voxcap);
    checkRacingRounds(voxcap);
    checkRefusedOpensKeepClosedAddressesAside(voxcap);
}
