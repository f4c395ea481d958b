// The simulated machine as a whole: scripted failures, the census of the shared kernel, and the
// reset that tests start from.
#include "machine.h"

#include <kernel.h>

#include <mutex>

namespace dummy {
namespace {

struct Script {
    bool armed = false;
    int skip = 0;
    uint32_t code = 0;
};

std::mutex script_lock;
Script scripts[static_cast<int>(Call::Count)];

// The shared kernel asks before each allocation and event whether a failure was scripted.
[[maybe_unused]] const bool kernel_hooked = (host::kernel_faults = [](host::KernelCall call) {
    return take_failure(call == host::KernelCall::GlobalAlloc ? Call::GlobalAlloc : Call::CreateEvent);
}, true);

}  // namespace

void fail(Call call, uint32_t code, int skip) {
    std::lock_guard<std::mutex> hold(script_lock);
    scripts[static_cast<int>(call)] = Script{true, skip, code};
}

bool take_failure(Call call, uint32_t* code) {
    std::lock_guard<std::mutex> hold(script_lock);
    Script& script = scripts[static_cast<int>(call)];
    if (!script.armed) return false;
    if (script.skip > 0) {
        --script.skip;
        return false;
    }
    script.armed = false;
    if (code) *code = script.code;
    return true;
}

void reset_failures() {
    std::lock_guard<std::mutex> hold(script_lock);
    for (Script& script : scripts) script = Script{};
}

KernelState kernel_state() {
    host::KernelCensus census = host::kernel_census();
    return KernelState{census.handles, census.allocations, census.bytes};
}

void heap_reuse_addresses(bool reuse) { host::heap_reuses_addresses = reuse; }

bool event_exists(const char* name) { return host::event_exists(name); }

void reset() {
    reset_failures();
    heap_reuse_addresses(false);
    reset_microphone();
    reset_screen();
}

}  // namespace dummy
