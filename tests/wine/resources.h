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
// its own choosing (Wine's sound driver and loader do, a few KB at a time, and its heap takes and
// gives back some 1.7 KB at a time), so a single before-and-after difference cannot tell that
// from a leak. The action is therefore repeated in `runs` runs of `perRun` times, and what each
// run left behind is measured: a leak grows every run, a one-off allocation or release only one
// of them. The verdict takes the median run.
struct Residue {
    static const int maxRuns = 8;
    bool allWorked;   // every action returned true
    int runs;
    int perRun;
    long heapGrowth[maxRuns];    // bytes, run by run
    long handleGrowth[maxRuns];  // handles, run by run
    long medianHeapGrowth;
    long medianHandleGrowth;
};
Residue residueOf(int runs, int perRun, const std::function<bool()>& action);

// Whether the action leaves behind no handle and, per action, fewer than `bytesPerAction` bytes
// of heap beyond what `platform` (the platform's own calls that the action makes, repeated as
// often, or nothing) leaves. Some platform calls leak on their own, which no caller can avoid:
// Wine 8's waveInOpen format query keeps 18 bytes each time.
bool leavesNoMoreThan(const Residue& residue, const Residue& platform, long bytesPerAction);
