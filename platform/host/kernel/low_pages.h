// Fresh zero-filled pages below 2 GiB, where an address fits a jint: one small function, one
// implementation per processor (the build picks it).
#pragma once

#include <cstddef>

namespace host {

// SIZE bytes of pages, at HINT when that place is free (HINT may be null); MAP_FAILED when no
// room is left below 2 GiB. Called with the heap's lock held.
void* map_low_pages(void* hint, size_t size);

}  // namespace host
