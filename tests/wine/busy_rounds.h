// Open and close of one capture, round after round, while other captures are being read: they
// share the event and take its notices. The Wine suite checks these figures; wine_bench prints them.
#pragma once

class Voxcap;

namespace capture {

struct BusyRounds {
    bool busyOpened;     // every other capture opened
    bool allOpened;      // every round's open gave a capture
    bool readersEnded;   // the other captures' readers returned once those were closed
    double slowestOpenMs;
    double slowestCloseMs;
};

// The other captures have 1 s buffers, so a notice one of them takes is not given back soon.
BusyRounds openCloseRounds(const Voxcap& voxcap, int busyCaptures, int rounds);

}  // namespace capture
