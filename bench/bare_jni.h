// A JNIEnv whose array functions are bare memory operations (the region copy is a memcpy), so a
// benchmark sees the library's own work alone. (The test VM checks every access, which is right
// for tests and would swamp the figures; a real JVM is measured by bench/java.)
#pragma once

#include <jni.h>

#include <vector>

class BareJni {
public:
    BareJni();
    JNIEnv* env() { return &env_; }
    jbyteArray array(std::vector<jbyte>& bytes) { return reinterpret_cast<jbyteArray>(&bytes); }

private:
    JNINativeInterface_ table_{};
    JNIEnv env_;
};
