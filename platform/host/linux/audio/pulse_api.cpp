#include "pulse_api.h"

#include <dlfcn.h>

namespace pulse {

namespace {

bool load(Api& table) {
    void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    bool complete = true;
#define PULSE_RESOLVE(name)                                                                \
    table.name = reinterpret_cast<decltype(table.name)>(dlsym(library, "pa_" #name)); \
    complete = complete && table.name;
    PULSE_FUNCTIONS(PULSE_RESOLVE)
#undef PULSE_RESOLVE
    // The library stays loaded for the life of the process: its threads may still be ending.
    return complete;
}

}  // namespace

const Api* api() {
    static Api table;
    static const bool loaded = load(table);
    return loaded ? &table : nullptr;
}

}  // namespace pulse
