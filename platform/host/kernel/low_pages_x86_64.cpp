// x86-64 Linux has a flag for it: MAP_32BIT places a mapping in the first 2 GiB.
#include <sys/mman.h>

#include "low_pages.h"

void* host::map_low_pages(void* hint, size_t size) {
    // The hint is only a hint: the kernel places the pages elsewhere when that range is taken.
    return mmap(hint, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
}
