// Java holds a capture as the address of its block in a jint. On x86-64 memory may lie anywhere,
// so the block must be placed below 2 GiB, and where no such memory is left open must refuse
// rather than hand out a truncated address.
#include "audio_checks.h"
#include "capture.h"
#include "check.h"

#include <windows.h>

#include <vector>

namespace {

using namespace capture;

// As many captures as Wine 8 keeps open at once with room to spare: its 65th open never returns.
const int manyCaptures = 48;

using NtAllocateVirtualMemoryFn = LONG(NTAPI*)(HANDLE, PVOID*, ULONG_PTR, PSIZE_T, ULONG, ULONG);

// Reserves every free range below 2 GiB, largest first, so that nothing is left there.
std::vector<void*> reserveAllBelow2GiB() {
    auto allocate = reinterpret_cast<NtAllocateVirtualMemoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtAllocateVirtualMemory")));
    std::vector<void*> reserved;
    for (SIZE_T size = SIZE_T{1} << 30; size >= 0x10000; size /= 2) {
        for (;;) {
            PVOID base = nullptr;
            SIZE_T bytes = size;
            if (allocate(GetCurrentProcess(), &base, 1, &bytes, MEM_RESERVE, PAGE_NOACCESS) < 0) break;
            reserved.push_back(base);
        }
    }
    return reserved;
}

void checkManyCapturesAtOnce(const Voxcap& voxcap) {
    FakeJni jni;
    std::vector<jint> handles;
    bool positive = true;
    for (int i = 0; i < manyCaptures; ++i) {
        jint handle = open(voxcap, jni);
        if (!handle) break;
        positive = positive && handle > 0;
        handles.push_back(handle);
    }
    for (jint handle : handles) voxcap.nclose(jni.env(), handle);
    check(handles.size() == manyCaptures && positive, "48 captures open at once, every handle a positive jint",
          "%d opened, all positive: %d", static_cast<int>(handles.size()), positive);
}

// Other threads of the process may free low memory between the sweep and the open: the threads of
// the captures closed just before end, and their memory goes, a while later on a busy machine (seen:
// five sweeps in a row, each followed by such a free). Then the open rightly succeeds, and after a
// pause the sweep is made again, until those frees are over. A block placed anywhere but below
// 2 GiB would succeed every time.
void checkNoLowMemoryLeft(const Voxcap& voxcap) {
    const int attempts = 50;
    FakeJni jni;
    std::vector<void*> reserved;
    jint refused = -1;
    int attempt = 0;
    for (; attempt < attempts && refused != 0; ++attempt) {
        Sleep(100);
        std::vector<void*> more = reserveAllBelow2GiB();
        reserved.insert(reserved.end(), more.begin(), more.end());
        refused = open(voxcap, jni);
        if (refused) voxcap.nclose(jni.env(), refused);
    }
    for (void* range : reserved) VirtualFree(range, 0, MEM_RELEASE);
    jint handle = open(voxcap, jni);
    if (handle) voxcap.nclose(jni.env(), handle);
    check(!reserved.empty() && refused == 0 && handle > 0,
          "with nothing free below 2 GiB open gives 0, and opens again once there is",
          "%d ranges reserved in %d sweeps, handle then %ld, afterwards %ld", static_cast<int>(reserved.size()),
          attempt, static_cast<long>(refused), static_cast<long>(handle));
}

}  // namespace

void handleChecks(const Voxcap& voxcap) {
    checkManyCapturesAtOnce(voxcap);
    // In a 32-bit process all of memory lies below 2 GiB: reserving it would starve everything.
    if (sizeof(void*) == 8) checkNoLowMemoryLeft(voxcap);
}
