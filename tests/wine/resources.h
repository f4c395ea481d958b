// What a capture may leave behind in this process, measured in ways that work under Wine too
// (GetProcessHandleCount is not implemented there).
#pragma once

#include <cstddef>
#include <functional>

// Bytes in busy blocks of the process heap, where GlobalAlloc memory lives.
std::size_t processHeapBusyBytes();

// The value the next new handle gets: handles are handed out lowest-free-first, so a leaked
// handle moves it.
unsigned long nextHandleValue();

// Whether an event of that name exists: opening it by name fails once every handle is closed.
bool namedEventExists(const char* name);

// What repeating an action leaves behind. The platform sets up state of its own at moments of
// its own choosing (Wine's sound driver and loader do, a few KB at a time), and Wine's heap
// without an audio driver creeps by a few bytes per failed query, more in some runs than in
// others, so a single before-and-after difference cannot tell that from a leak. The action is
// therefore repeated in `runs` runs of `perRun` times, and what each run left behind is
// measured: a leak grows every run by at least its size, the platform's own allocations only
// some runs. The verdict takes the run that grew least.
struct Residue {
    static const int maxRuns = 8;
    bool allWorked;   // every action returned true
    int runs;
    int perRun;
    long heapGrowth[maxRuns];    // bytes, run by run
    long handleGrowth[maxRuns];  // handles, run by run
    long leastHeapGrowth;
    long leastHandleGrowth;
};
Residue residueOf(int runs, int perRun, const std::function<bool()>& action);

// Whether the action leaves behind no handle and, per action, fewer than `bytesPerAction` bytes
// of heap beyond what `platform` (the platform's own calls that the action makes, repeated as
// often, or nothing) leaves. Some platform calls leak on their own, which no caller can avoid:
// Wine 8's waveInOpen format query keeps 18 bytes each time.
bool leavesNoMoreThan(const Residue& residue, const Residue& platform, long bytesPerAction);
