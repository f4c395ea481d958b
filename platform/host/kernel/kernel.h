// What the kernel shared by the Linux backends offers the backends themselves, beyond the
// Windows calls it implements.
#pragma once

#include <windows.h>

#include <atomic>

namespace host {

enum class KernelCall { GlobalAlloc, CreateEvent };

// A backend that scripts failures (the simulated machine) sets this hook; the kernel then asks
// it before each of those calls whether the call is to fail. The real backend leaves it unset.
extern bool (*kernel_faults)(KernelCall call);
bool injected_failure(KernelCall call);

// When set, GlobalAlloc hands the most recently freed block's address to the next block of its
// size, as a Windows heap does; otherwise addresses are spread at random. The simulated
// machine sets it so that a handle to a freed block can be shown to alias the next one.
extern std::atomic<bool> heap_reuses_addresses;

struct KernelCensus {
    int handles;        // open kernel handles
    int allocations;    // live GlobalAlloc blocks
    size_t bytes;       // their total size
};
KernelCensus kernel_census();
// Whether some open handle still holds the event of that name.
bool event_exists(const char* name);

}  // namespace host
