// What the screen tests share: grabbing through the export, and proof that a grab gave back
// every GDI object, heap block and X resource it took.
#pragma once

#include <gtest/gtest.h>

#include <fake_jni.h>
#include <kernel.h>
#include <screen/screen_census.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"
#include "x_server.h"

const jint untouched = 0x5A5A5A5A;

inline void use_display(const std::string& name) {
    if (name.empty())
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", name.c_str(), 1);
}

// SysV segments this process created: how many, and how many not yet marked for removal
// (those would outlive a crash).
struct Segments {
    int created = 0;
    int kept_after_exit = 0;
};
inline Segments our_segments() {
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line);
    Segments segments;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long key, id, size, creator;
        std::string perms;
        fields >> key >> id >> perms >> size >> creator;
        if (creator != getpid()) continue;
        ++segments.created;
        if (!(std::stol(perms, nullptr, 8) & 01000)) ++segments.kept_after_exit;  // SHM_DEST
    }
    return segments;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        screenBefore = host::screen_census();
        allocationsBefore = host::kernel_census().allocations;
    }

    void grab(jintArray pixels, jint x, jint y, jint width, jint height) {
        Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(jni.env(), nullptr, pixels, x, y, width, height);
    }

    std::vector<uint32_t> grabbed(jint x, jint y, jint width, jint height) {
        jintArray pixels = jni.newIntArray(width * height, untouched);
        grab(pixels, x, y, width, height);
        const jint* ints = jni.ints(pixels);
        return std::vector<uint32_t>(ints, ints + width * height);
    }

    // Four threads grab 25 rectangles of 64x48 each at once, thread t's n-th at
    // (t * step_x + n, t * step_y + n); every one must hold what `expected` gives for it.
    void expectGrabsFromSeveralThreads(int step_x, int step_y,
                                       const std::function<std::vector<uint32_t>(int, int, int, int)>& expected) {
        const int threads = 4, grabs = 25;
        std::vector<jintArray> arrays;
        for (int t = 0; t < threads * grabs; ++t) arrays.push_back(jni.newIntArray(64 * 48, untouched));
        std::vector<std::thread> grabbers;
        for (int t = 0; t < threads; ++t)
            grabbers.emplace_back([&, t] {
                for (int g = 0; g < grabs; ++g) grab(arrays[t * grabs + g], t * step_x + g, t * step_y + g, 64, 48);
            });
        for (auto& grabber : grabbers) grabber.join();
        for (int t = 0; t < threads; ++t)
            for (int g = 0; g < grabs; ++g) {
                const jint* got = jni.ints(arrays[t * grabs + g]);
                ASSERT_EQ(std::vector<uint32_t>(got, got + 64 * 48), expected(t * step_x + g, t * step_y + g, 64, 48))
                    << "thread " << t << ", grab " << g;
            }
    }

    // Only the one connection to the current display stays open, keeping at most two segments
    // for the next grabs, and those go with the process whatever happens.
    void expectEverythingReleased() {
        host::ScreenCensus now = host::screen_census();
        EXPECT_EQ(now.screen_dcs, screenBefore.screen_dcs);
        EXPECT_EQ(now.memory_dcs, screenBefore.memory_dcs);
        EXPECT_EQ(now.bitmaps, screenBefore.bitmaps);
        EXPECT_LE(now.displays, 1);
        EXPECT_EQ(host::kernel_census().allocations, allocationsBefore);
        // A segment we gave up stays listed until the server has read its detach too, which a busy
        // machine's server does late (three listed for our two, at load 9); a leaked one stays.
        Segments segments = our_segments();
        for (int waited = 0; segments.created > 2 * now.displays && waited < 5000; waited += 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            segments = our_segments();
        }
        EXPECT_LE(segments.created, 2 * now.displays);
        EXPECT_LE(now.segments, 2 * now.displays);
        EXPECT_EQ(segments.kept_after_exit, 0);
        EXPECT_EQ(jni.violations(), 0) << jni.firstViolation();
    }

    FakeJni jni;
    host::ScreenCensus screenBefore{};
    int allocationsBefore = 0;
};
