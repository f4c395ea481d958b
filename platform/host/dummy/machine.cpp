// The simulated machine as a whole: scripted failures and the reset that tests start from.
#include "machine.h"

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

void reset() {
    reset_failures();
    reset_microphone();
    reset_screen();
}

}  // namespace dummy
