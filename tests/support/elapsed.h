// How long a call takes, for the tests that bound how long opening and closing may take.
#pragma once

#include <chrono>

template <typename F>
long millisecondsTaken(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}
