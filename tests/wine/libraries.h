// The shipped DLLs, loaded by name and bound by their undecorated export names as the Java VM
// binds native methods, then called through __stdcall function pointers. On x86 every call
// measures the stack pointer around it: a callee that leaves its arguments on the stack shows.
#pragma once

#include <jni.h>

class Voxcap {
public:
    bool load();  // false when the DLL or one of its exports is missing
    jint nopen(JNIEnv* env, jint sampleRate, jint channels, jint bitsPerSample, jint bufferSize,
               jint bufferCount) const;
    void nclose(JNIEnv* env, jint handle) const;
    jint ngetBuffer(JNIEnv* env, jint handle, jbyteArray dest, jint offset, jint length) const;

private:
    jint(JNICALL* nopen_)(JNIEnv*, jclass, jint, jint, jint, jint, jint) = nullptr;
    void(JNICALL* nclose_)(JNIEnv*, jclass, jint) = nullptr;
    jint(JNICALL* ngetBuffer_)(JNIEnv*, jclass, jint, jbyteArray, jint, jint) = nullptr;
};

class Deskcap {
public:
    bool load();
    void nGrabPixels(JNIEnv* env, jintArray pixels, jint x, jint y, jint width, jint height) const;

private:
    void(JNICALL* nGrabPixels_)(JNIEnv*, jclass, jintArray, jint, jint, jint, jint) = nullptr;
};

constexpr bool kStackChecked = sizeof(void*) == 4;

// Calls made through both classes so far, and how many left the stack pointer elsewhere.
struct StackRecord {
    long calls;
    long moved;
};
StackRecord stackRecord();
