// Where the global heap itself stays below 2 GiB: in a 32-bit Windows process, whose user space
// ends there, and on the host, whose kernel keeps its heap there by design.
#include <below_2gib.h>

void* allocate_below_2gib(SIZE_T bytes) { return GlobalAlloc(GMEM_ZEROINIT, bytes); }

void free_below_2gib(void* memory) { GlobalFree(memory); }
