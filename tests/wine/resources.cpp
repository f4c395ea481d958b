#include "resources.h"

#include <windows.h>

#include <algorithm>
#include <utility>

std::size_t processHeapBusyBytes() {
    HANDLE heap = GetProcessHeap();
    std::size_t busy = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

unsigned long nextHandleValue() {
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(probe));
}

bool namedEventExists(const char* name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (event) CloseHandle(event);
    return event != nullptr;
}

namespace {

// Of a few values: sorted in place by insertion.
long median(long* values, int count) {
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j - 1] > values[j]; --j) std::swap(values[j - 1], values[j]);
    return values[count / 2];
}

}  // namespace

Residue residueOf(int runs, int perRun, const std::function<bool()>& action) {
    Residue residue{};
    residue.allWorked = true;
    residue.runs = runs < Residue::maxRuns ? runs : Residue::maxRuns;
    residue.perRun = perRun;
    for (int run = 0; run < residue.runs; ++run) {
        std::size_t heapBefore = processHeapBusyBytes();
        unsigned long handleBefore = nextHandleValue();
        for (int i = 0; i < perRun && residue.allWorked; ++i) residue.allWorked = action();
        residue.heapGrowth[run] = static_cast<long>(processHeapBusyBytes() - heapBefore);
        // Handle values step by 4.
        residue.handleGrowth[run] = static_cast<long>(nextHandleValue() - handleBefore) / 4;
    }
    long sorted[Residue::maxRuns] = {};
    std::copy(residue.heapGrowth, residue.heapGrowth + residue.runs, sorted);
    residue.medianHeapGrowth = median(sorted, residue.runs);
    std::copy(residue.handleGrowth, residue.handleGrowth + residue.runs, sorted);
    residue.medianHandleGrowth = median(sorted, residue.runs);
    return residue;
}

bool leavesNoMoreThan(const Residue& residue, const Residue& platform, long bytesPerAction) {
    return residue.medianHeapGrowth - platform.medianHeapGrowth < bytesPerAction * residue.perRun &&
           residue.medianHandleGrowth - platform.medianHandleGrowth < 1;
}
