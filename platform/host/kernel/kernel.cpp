// Kernel objects of every Linux backend: the global heap, events, time and the last error.
// This is real code, not a simulation: the simulated machine and the real backend share it.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "kernel.h"
#include "low_pages.h"

namespace {

thread_local DWORD last_error = 0;

// ---- Global heap ------------------------------------------------------------------------------
// Blocks are whole pages below 2 GiB, as in a 32-bit process, so an address fits a jint.
// Each block ends right at a page that is never mapped in: a write past the end faults at once.

struct Heap {
    std::mutex lock;
    std::map<void*, size_t> blocks;  // address handed out -> bytes asked for
    size_t bytes = 0;
    // The last large mappings freed, kept for the next blocks of their sizes: a screen grab frees
    // and asks again for megabytes many times a second (two sizes when it takes turns at the
    // whole screen and a window), and fresh pages fault in one by one.
    struct Spare {
        char* mapping = nullptr;
        size_t size = 0;
    } spares[2];
    char* last_freed = nullptr;  // the mapping given back to the system last, and its size
    size_t last_freed_size = 0;
};

Heap& heap() {
    static Heap instance;
    return instance;
}

const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
const size_t largest_block = size_t{1} << 30;
// Spares are screen-sized: a 3840x2160 picture is 32 MiB. Larger ones would hold on to much of
// the gigabyte below 2 GiB that every block comes from.
const size_t smallest_spare = size_t{1} << 20;
const size_t largest_spare = size_t{64} << 20;

size_t mapped_size(size_t bytes) { return (bytes + page - 1) / page * page + page; }

// The block starts at a 16-byte boundary as close to the guard page as alignment allows.
char* mapping_of(void* block, size_t bytes) {
    size_t offset = (mapped_size(bytes) - page - bytes) & ~size_t{15};
    return static_cast<char*>(block) - offset;
}

// Pages for a block: the spare mapping when it has the size, else fresh zero-filled ones.
void* map_pages(size_t size, bool& reused) {
    Heap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    for (Heap::Spare& spare : h.spares)
        if (spare.mapping && spare.size == size) {
            reused = true;
            return std::exchange(spare.mapping, nullptr);
        }
    void* hint = host::heap_reuses_addresses && h.last_freed_size == size ? h.last_freed : nullptr;
    void* mapping = host::map_low_pages(hint, size);
    if (mapping != MAP_FAILED) return mapping;
    // The low addresses are scarce: what the spares hold goes back before a block is refused.
    for (Heap::Spare& spare : h.spares)
        if (spare.mapping) munmap(std::exchange(spare.mapping, nullptr), spare.size);
    return host::map_low_pages(nullptr, size);
}

// With the heap's lock held.
void unmap_pages(Heap& h, char* mapping, size_t size) {
    if (size >= smallest_spare && size <= largest_spare) {
        // The older spare gives way.
        Heap::Spare older = h.spares[0];
        h.spares[0] = h.spares[1];
        h.spares[1] = {mapping, size};
        if (!older.mapping) return;
        mapping = older.mapping;
        size = older.size;
    }
    munmap(mapping, size);
    h.last_freed = mapping;
    h.last_freed_size = size;
}

// ---- Events -------------------------------------------------------------------------------------

struct Event {
    std::mutex lock;
    std::condition_variable changed;
    bool manual_reset = false;
    bool signalled = false;
    std::string name;
};

struct Objects {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<Event>> handles;
    std::map<std::string, std::weak_ptr<Event>> names;
    uintptr_t next_handle = 0x100;  // never reused, so a stale handle fails instead of aliasing
};

Objects& objects() {
    static Objects instance;
    return instance;
}

std::shared_ptr<Event> event_of(HANDLE handle) {
    Objects& all = objects();
    std::lock_guard<std::mutex> hold(all.lock);
    auto found = all.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == all.handles.end()) return nullptr;
    return found->second;
}

BOOL invalid_handle() {
    last_error = ERROR_INVALID_HANDLE;
    return FALSE;
}

}  // namespace

DWORD WINAPI GetLastError(void) { return last_error; }

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WINAPI Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > largest_block || host::injected_failure(host::KernelCall::GlobalAlloc)) {
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    size_t size = mapped_size(bytes);
    bool reused = false;
    void* mapping = map_pages(size, reused);
    if (mapping == MAP_FAILED) {
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    mprotect(static_cast<char*>(mapping) + size - page, page, PROT_NONE);
    void* block = static_cast<char*>(mapping) + ((size - page - bytes) & ~size_t{15});
    // Without GMEM_ZEROINIT a block holds leftovers, as on Windows: fresh pages are filled, so
    // reading what nobody wrote shows; reused ones hold what the last block left.
    if (!(flags & GMEM_ZEROINIT) && !reused)
        std::memset(block, 0xCD, bytes);
    else if ((flags & GMEM_ZEROINIT) && reused)
        std::memset(block, 0, bytes);
    Heap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    h.blocks[block] = bytes;
    h.bytes += bytes;
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
    Heap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    auto found = h.blocks.find(block);
    if (found == h.blocks.end()) {
        last_error = ERROR_INVALID_HANDLE;
        return block;
    }
    unmap_pages(h, mapping_of(block, found->second), mapped_size(found->second));
    h.bytes -= found->second;
    h.blocks.erase(found);
    return nullptr;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (host::injected_failure(host::KernelCall::CreateEvent)) {
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    Objects& all = objects();
    std::lock_guard<std::mutex> hold(all.lock);
    std::shared_ptr<Event> event;
    if (name) event = all.names[name].lock();
    // Opening an existing name yields the same object, whatever the other arguments say.
    last_error = event ? ERROR_ALREADY_EXISTS : 0;
    if (!event) {
        event = std::make_shared<Event>();
        event->manual_reset = manualReset;
        event->signalled = initialState;
        if (name) {
            event->name = name;
            all.names[name] = event;
        }
    }
    uintptr_t handle = all.next_handle;
    all.next_handle += 4;
    all.handles[handle] = event;
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI SetEvent(HANDLE handle) {
    std::shared_ptr<Event> event = event_of(handle);
    if (!event) return invalid_handle();
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
    // An auto-reset event releases one waiter; a manual-reset event releases them all.
    if (event->manual_reset)
        event->changed.notify_all();
    else
        event->changed.notify_one();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
    std::shared_ptr<Event> event = event_of(handle);
    if (!event) return invalid_handle();
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<Event> event = event_of(handle);
    if (!event) {
        invalid_handle();
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> hold(event->lock);
    auto is_signalled = [&] { return event->signalled; };
    if (milliseconds == INFINITE)
        event->changed.wait(hold, is_signalled);
    else if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), is_signalled))
        return WAIT_TIMEOUT;
    if (!event->manual_reset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    Objects& all = objects();
    std::lock_guard<std::mutex> hold(all.lock);
    auto found = all.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == all.handles.end()) return invalid_handle();
    std::string name = found->second->name;
    all.handles.erase(found);
    // The name lives as long as some handle holds the object.
    if (!name.empty() && all.names[name].expired()) all.names.erase(name);
    return TRUE;
}

// ---- Slim reader/writer locks ---------------------------------------------------------------------
// The lock's pointer holds a count: each shared holder adds 2, an exclusive holder makes it 1.
// A waiter sleeps on the pointer until it changes.

namespace {

constexpr uintptr_t kExclusive = 1;
constexpr uintptr_t kOneShared = 2;

void* state(uintptr_t count) { return reinterpret_cast<void*>(count); }
uintptr_t count_of(void* state) { return reinterpret_cast<uintptr_t>(state); }

// Moves the lock to next(count) once admit(count) allows it, sleeping while it does not.
template <typename Admit, typename Next>
void change(PSRWLOCK lock, Admit admit, Next next) {
    std::atomic_ref<void*> word(lock->Ptr);
    void* seen = word.load();
    for (;;) {
        uintptr_t from = count_of(seen);
        if (!admit(from)) {
            word.wait(seen);
            seen = word.load();
            continue;
        }
        uintptr_t to = next(from);
        if (word.compare_exchange_weak(seen, state(to), std::memory_order_acq_rel)) {
            // Only a release can let a sleeper in.
            if (to < from) word.notify_all();
            return;
        }
    }
}

}  // namespace

void WINAPI AcquireSRWLockShared(PSRWLOCK lock) {
    change(lock, [](uintptr_t n) { return !(n & kExclusive); }, [](uintptr_t n) { return n + kOneShared; });
}

void WINAPI ReleaseSRWLockShared(PSRWLOCK lock) {
    change(lock, [](uintptr_t) { return true; }, [](uintptr_t n) { return n - kOneShared; });
}

void WINAPI AcquireSRWLockExclusive(PSRWLOCK lock) {
    change(lock, [](uintptr_t n) { return n == 0; }, [](uintptr_t) { return kExclusive; });
}

void WINAPI ReleaseSRWLockExclusive(PSRWLOCK lock) {
    change(lock, [](uintptr_t) { return true; }, [](uintptr_t) { return uintptr_t{0}; });
}

namespace host {

bool (*kernel_faults)(KernelCall) = nullptr;

std::atomic<bool> heap_reuses_addresses{false};

bool injected_failure(KernelCall call) { return kernel_faults && kernel_faults(call); }

KernelCensus kernel_census() {
    KernelCensus census{};
    {
        Objects& all = objects();
        std::lock_guard<std::mutex> hold(all.lock);
        census.handles = static_cast<int>(all.handles.size());
    }
    Heap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    census.allocations = static_cast<int>(h.blocks.size());
    census.bytes = h.bytes;
    return census;
}

bool event_exists(const char* name) {
    Objects& all = objects();
    std::lock_guard<std::mutex> hold(all.lock);
    auto found = all.names.find(name);
    return found != all.names.end() && !found->second.expired();
}

}  // namespace host
