// Processors without a flag for low mappings (aarch64): pages below 2 GiB are asked for where
// the last ones ended, else in the first gap the process's map shows, and never taken from
// anyone else (MAP_FIXED_NOREPLACE). A kernel older than 4.17 treats that flag as a hint: a
// mapping it puts elsewhere is given back.
#include <sys/mman.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "low_pages.h"

namespace {

const uintptr_t lowest = uintptr_t{1} << 20;
const uintptr_t limit = uintptr_t{1} << 31;
uintptr_t next_place = lowest;  // guarded by the heap's lock

bool fits(uintptr_t place, size_t size) { return place >= lowest && place <= limit && size <= limit - place; }

void* map_at(uintptr_t place, size_t size) {
    void* wanted = reinterpret_cast<void*>(place);
    void* mapping = mmap(wanted, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapping == wanted || mapping == MAP_FAILED) return mapping;
    munmap(mapping, size);
    errno = EEXIST;  // placed elsewhere: the place is taken
    return MAP_FAILED;
}

// The first place from FROM where SIZE bytes end below 2 GiB clear of every mapping listed in
// /proc/self/maps (in address order); 0 when there is none or the list cannot be read. Stepping
// by SIZE instead would miss gaps off the stride, one system call per step.
uintptr_t first_gap(uintptr_t from, size_t size) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return 0;
    uintptr_t place = from, start, end;
    while (fits(place, size) && std::fscanf(maps, "%" SCNxPTR "-%" SCNxPTR "%*[^\n]", &start, &end) == 2) {
        if (end <= place) continue;
        if (start >= place && start - place >= size) break;
        place = end;
    }
    std::fclose(maps);
    return fits(place, size) ? place : 0;
}

}  // namespace

void* host::map_low_pages(void* hint, size_t size) {
    uintptr_t wanted = reinterpret_cast<uintptr_t>(hint);
    if (hint && fits(wanted, size)) {
        void* mapping = map_at(wanted, size);
        if (mapping != MAP_FAILED) return mapping;
    }
    // Another thread may map into a gap between the look and the mapping: a few looks.
    uintptr_t place = fits(next_place, size) ? next_place : lowest;
    for (int look = 0; look < 4; ++look) {
        void* mapping = map_at(place, size);
        if (mapping != MAP_FAILED) {
            next_place = place + size;
            return mapping;
        }
        if (errno != EEXIST) return MAP_FAILED;
        place = first_gap(next_place, size);
        if (!place) place = first_gap(lowest, size);
        if (!place) return MAP_FAILED;
    }
    return MAP_FAILED;
}
