// Processors without a flag for low mappings (aarch64): free places below 2 GiB are asked for
// one at a time, from where the last one was found, and never taken from anyone else
// (MAP_FIXED_NOREPLACE). A kernel older than 4.17 treats that flag as a hint: a mapping it puts
// elsewhere is given back.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

#include "low_pages.h"

namespace {

const uintptr_t lowest = uintptr_t{1} << 20;
const uintptr_t limit = uintptr_t{1} << 31;
uintptr_t next_place = lowest;  // guarded by the heap's lock

void* map_at(uintptr_t place, size_t size) {
    void* wanted = reinterpret_cast<void*>(place);
    void* mapping = mmap(wanted, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapping == wanted || mapping == MAP_FAILED) return mapping;
    munmap(mapping, size);
    errno = EEXIST;  // placed elsewhere: the place is taken
    return MAP_FAILED;
}

// The first free place in [from, to) for SIZE bytes, stepping by SIZE past what is taken.
void* search(uintptr_t from, uintptr_t to, size_t size) {
    for (uintptr_t place = from; place < to && size <= limit - place; place += size) {
        void* mapping = map_at(place, size);
        if (mapping != MAP_FAILED) {
            next_place = place + size;
            return mapping;
        }
        if (errno != EEXIST) return MAP_FAILED;
    }
    return MAP_FAILED;
}

}  // namespace

void* host::map_low_pages(void* hint, size_t size) {
    uintptr_t wanted = reinterpret_cast<uintptr_t>(hint);
    if (hint && wanted >= lowest && size <= limit - wanted) {
        void* mapping = map_at(wanted, size);
        if (mapping != MAP_FAILED) return mapping;
    }
    void* mapping = search(next_place, limit, size);
    return mapping != MAP_FAILED ? mapping : search(lowest, next_place, size);
}
