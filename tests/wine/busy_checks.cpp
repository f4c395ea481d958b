// Opening and closing beside captures being read: they share the event and take its notices,
// which must not make open or close wait for them.
#include "audio_checks.h"
#include "busy_rounds.h"
#include "check.h"

void busyChecks(const Voxcap& voxcap) {
    capture::BusyRounds rounds = capture::openCloseRounds(voxcap, 3, 30);
    if (!check(rounds.busyOpened, "three captures with 1 s buffers open at once")) return;
    check(rounds.allOpened && rounds.readersEnded, "30 opens and closes beside three captures being read all work");
    // Waiting out the 2 s bound is the fault; a loaded machine costs far less than 1 s.
    check(rounds.slowestOpenMs < 1000 && rounds.slowestCloseMs < 1000, "none of them waits for the notices the readers take",
          "slowest open %.0f ms, slowest close %.0f ms", rounds.slowestOpenMs, rounds.slowestCloseMs);
}
