// Shared by the capture tests: the exported functions, a fresh simulated machine per test,
// and a check that every test gives back all it took.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include "control.h"
#include "elapsed.h"
#include "fake_jni.h"

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        dummy::reset();
        kernelBefore_ = dummy::kernel_state();
    }

    void TearDown() override {
        dummy::reset();
        dummy::KernelState kernel = dummy::kernel_state();
        EXPECT_EQ(kernel.handles, kernelBefore_.handles) << "kernel handles leaked";
        EXPECT_EQ(kernel.allocations, kernelBefore_.allocations) << "global memory leaked";
        dummy::MicState mic = dummy::mic_state();
        EXPECT_EQ(mic.devices, 0) << "a device was left open";
        EXPECT_EQ(mic.preparedHeaders, 0) << "a header was left prepared";
        EXPECT_EQ(jni.violations(), 0) << jni.firstViolation();
    }

    jint open(jint bufferSize = 256, jint bufferCount = 4, jint rate = 8000, jint channels = 1, jint bits = 16) {
        return Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(jni.env(), nullptr, rate, channels, bits,
                                                                       bufferSize, bufferCount);
    }
    void close(jint handle) { Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(jni.env(), nullptr, handle); }
    jint read(jint handle, jbyteArray dest, jint offset, jint length) {
        return Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(jni.env(), nullptr, handle, dest, offset,
                                                                            length);
    }

    // True when `bytes` continue the microphone's signal at stream position `position`.
    static bool holdsSignal(const jbyte* bytes, size_t count, uint64_t position) {
        for (size_t i = 0; i < count; ++i)
            if (static_cast<uint8_t>(bytes[i]) != dummy::signal_byte(position + i)) return false;
        return true;
    }

    FakeJni jni;

private:
    dummy::KernelState kernelBefore_{};
};
