// A JNIEnv whose byte arrays are handed out in place, as a VM that pins them does: the array
// functions cost nothing, so a benchmark sees the library's own work alone. (The test VM copies
// every array and checks it, which is right for tests and would swamp the figures.)
#pragma once

#include <jni.h>

#include <vector>

class PinningJni {
public:
    PinningJni();
    JNIEnv* env() { return &env_; }
    jbyteArray array(std::vector<jbyte>& bytes) { return reinterpret_cast<jbyteArray>(&bytes); }

private:
    JNINativeInterface_ table_{};
    JNIEnv env_;
};
