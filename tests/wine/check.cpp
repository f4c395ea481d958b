#include "check.h"

#include <cstdarg>
#include <cstdio>

namespace {
int passed = 0;
int failed = 0;
}  // namespace

bool check(bool ok, const char* what, const char* detailFormat, ...) {
    std::printf("%s %s", ok ? "ok    " : "FAILED", what);
    if (!ok && detailFormat) {
        std::va_list args;
        va_start(args, detailFormat);
        std::fputs(": ", stdout);
        std::vprintf(detailFormat, args);
        va_end(args);
    }
    std::putchar('\n');
    std::fflush(stdout);
    ++(ok ? passed : failed);
    return ok;
}

int report() {
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
