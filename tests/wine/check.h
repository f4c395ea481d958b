// The tally of the Windows test program: every check prints one line, and the run ends with
// "N passed, N failed".
#pragma once

// Records one check; detail (printf-style) is printed only when it failed.
bool check(bool ok, const char* what, const char* detailFormat = nullptr, ...)
    __attribute__((format(printf, 3, 4)));

// Prints the tally; the process exit code is 0 only when nothing failed.
int report();
