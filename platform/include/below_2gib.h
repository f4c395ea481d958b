// Memory whose address fits a positive 32-bit integer: Java holds a capture as the address of
// its block in a jint. One implementation per platform, chosen by the build.
#pragma once

#include <windows.h>

// Zero-filled memory below 2 GiB, or nullptr when there is none to be had.
void* allocate_below_2gib(SIZE_T bytes);

void free_below_2gib(void* memory);
