// The real microphone through the exported functions: the fixture of the tests that record from
// it or from a server of their own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include "fake_jni.h"

struct Format {
    jint rate, channels, bits;
};

class MicrophoneTest : public ::testing::Test {
protected:
    // Some tests point the process at another server; the next one gets the environment's again.
    void SetUp() override { server_ = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : ""; }
    void TearDown() override {
        setenv("PULSE_SERVER", server_.c_str(), 1);
        EXPECT_EQ(jni.violations(), 0) << jni.firstViolation();
    }
    jint open(Format f, jint bufferSize, jint bufferCount = 8) {
        return Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(jni.env(), nullptr, f.rate, f.channels, f.bits,
                                                                       bufferSize, bufferCount);
    }
    jint read(jint handle, jbyteArray dest, jint length) {
        return Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(jni.env(), nullptr, handle, dest, 0,
                                                                            length);
    }
    void close(jint handle) { Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(jni.env(), nullptr, handle); }

    FakeJni jni;

private:
    std::string server_;
};
