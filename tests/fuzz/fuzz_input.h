// What the fuzz targets share: numbers drawn from the input with a bias toward the values that
// break size and offset arithmetic, and a check that stops the run as a crash libFuzzer keeps.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <jni.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken rule found by a fuzz run: print it and abort, so libFuzzer saves the input.
#define FUZZ_REQUIRE(condition, what)                                                   \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "fuzz: %s (%s:%d)\n", what, __FILE__, __LINE__);      \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Mostly a value in [low, high]; otherwise one at the edges of jint, or any jint at all.
inline jint anyInt(FuzzedDataProvider& input, jint low, jint high) {
    static constexpr jint edges[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX, 1 << 30, 1 << 16};
    switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0: return input.PickValueInArray(edges);
    case 1: return input.ConsumeIntegral<jint>();
    default: return input.ConsumeIntegralInRange(low, high);
    }
}
