#include "resources.h"

#include <windows.h>

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
