// Binding a table of functions to a system library opened with dlopen on first use rather than
// linked, so that the backend loads on a machine without that library.
#pragma once

#include <dlfcn.h>

#include <type_traits>
#include <utility>

namespace host {

// A slot of a table and the name of the symbol that fills it.
template <typename T>
std::pair<T*, const char*> slot(T& field, const char* name) { return {&field, name}; }

// Fills every slot from the library; false, with every slot null again, when the library or any
// symbol is missing. A library that binds stays loaded for the life of the process.
template <typename... Slots>
bool bind(const char* file, Slots... slots) {
    void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    bool complete = true;
    auto resolve = [&](auto slot) {
        *slot.first = reinterpret_cast<std::remove_reference_t<decltype(*slot.first)>>(dlsym(library, slot.second));
        complete = complete && *slot.first;
    };
    (resolve(slots), ...);
    if (complete) return true;
    ((*slots.first = nullptr), ...);
    dlclose(library);
    return false;
}

}  // namespace host
