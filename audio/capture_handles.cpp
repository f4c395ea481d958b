// The table of open captures, and the addresses of recently closed ones. Both are process-wide
// because a handle is all a caller brings: nothing else can say whether it is still open. They
// are read on every ngetBuffer under a shared lock, which readers never wait on each other for;
// open and close hold it alone for a few stores. Nothing waits for a device with it held.
#include "capture_handles.h"

namespace {

// Far more than a device opens at once (Wine's winmm stops at 64).
constexpr int kMaxOpen = 1024;

// A handle goes stale when its close returns; a caller that read it just before may still be on
// its way in. Until this many captures have closed after it, its address is not handed out again.
constexpr int kRecentlyClosed = 64;

struct Handles {
    SRWLOCK lock;
    CaptureBlock* open[kMaxOpen];
    int openCount;
    CaptureBlock* closed[kRecentlyClosed];
    int nextClosed;
};

// Constant-initialized: loading the library runs no code for it.
Handles handles = {SRWLOCK_INIT, {}, 0, {}, 0};

class Shared {
public:
    Shared() { AcquireSRWLockShared(&handles.lock); }
    ~Shared() { ReleaseSRWLockShared(&handles.lock); }
};

class Exclusive {
public:
    Exclusive() { AcquireSRWLockExclusive(&handles.lock); }
    ~Exclusive() { ReleaseSRWLockExclusive(&handles.lock); }
};

// With the lock held: the index of the open capture at that address, or -1.
int find_open(CaptureBlock* block) {
    for (int i = 0; i < handles.openCount; ++i)
        if (handles.open[i] == block) return i;
    return -1;
}

bool recently_closed(void* block) {
    Shared hold;
    for (CaptureBlock* closed : handles.closed)
        if (closed == block) return true;
    return false;
}

void retire_address(CaptureBlock* block) {
    Exclusive hold;
    handles.closed[handles.nextClosed] = block;
    handles.nextClosed = (handles.nextClosed + 1) % kRecentlyClosed;
}

}  // namespace

CaptureBlock* new_capture_block() {
    // An address still remembered is kept aside (each one links to the last through its own
    // memory) so the heap hands out another, and given back once a fresh one is found.
    void* setAside = nullptr;
    void* block;
    while ((block = allocate_below_2gib(sizeof(CaptureBlock))) && recently_closed(block)) {
        *static_cast<void**>(block) = setAside;
        setAside = block;
    }
    while (setAside) {
        void* next = *static_cast<void**>(setAside);
        free_below_2gib(setAside);
        setAside = next;
    }
    return static_cast<CaptureBlock*>(block);
}

void discard_capture_block(CaptureBlock* block) {
    release_capture(block);
    free_below_2gib(block);
}

bool publish_capture(CaptureBlock* block) {
    Exclusive hold;
    if (handles.openCount == kMaxOpen) return false;
    handles.open[handles.openCount++] = block;
    return true;
}

CaptureBlock* withdraw_capture(jint handle) {
    Exclusive hold;
    int i = find_open(block_of(handle));
    if (i < 0) return nullptr;
    CaptureBlock* block = handles.open[i];
    handles.open[i] = handles.open[--handles.openCount];
    return block;
}

CaptureUse::CaptureUse(jint handle) : block_(nullptr) {
    Shared hold;
    int i = find_open(block_of(handle));
    if (i < 0) return;
    // A capture is withdrawn only under the exclusive lock, so it still holds its open use here.
    block_ = handles.open[i];
    take_use(block_);
}

void leave_capture(CaptureBlock* block) {
    if (!drop_use(block)) return;
    release_capture(block);
    // Remembered before the memory goes back to the heap, so no open can get it in between.
    retire_address(block);
    free_below_2gib(block);
}
