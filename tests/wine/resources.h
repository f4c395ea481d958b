// What a capture may leave behind in this process, measured in ways that work under Wine too
// (GetProcessHandleCount is not implemented there).
#pragma once

#include <cstddef>

// Bytes in busy blocks of the process heap, where GlobalAlloc memory lives.
std::size_t processHeapBusyBytes();

// The value the next new handle gets: handles are handed out lowest-free-first, so a leaked
// handle moves it.
unsigned long nextHandleValue();

// Whether an event of that name exists: opening it by name fails once every handle is closed.
bool namedEventExists(const char* name);
