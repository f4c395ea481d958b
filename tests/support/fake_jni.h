// A JNIEnv without a VM, for calling the exported functions directly. It provides Java byte and
// int arrays and the array functions the libraries use, checks every access the way
// -Xcheck:jni would, and aborts on any other JNI function.
#pragma once

#include <jni.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class FakeJni {
public:
    FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;
    ~FakeJni();

    JNIEnv* env() { return &env_; }

    jbyteArray newByteArray(jsize length, jbyte fill = 0);
    jintArray newIntArray(jsize length, jint fill = 0);
    jbyte* bytes(jbyteArray array);
    jint* ints(jintArray array);

    // Runs inside every GetArrayLength call, before it answers: a test can stall the caller
    // there, as a VM call that meets a collection stalls. Set it before the callers start.
    void onLengthQuery(std::function<void()> hook) { lengthHook_ = std::move(hook); }

    int vmCalls() const { return vmCalls_; }       // array functions called so far
    int lengthQueries() const { return lengthQueries_; }  // GetArrayLength calls so far
    int violations() const { return violations_; } // misuses seen (bounds, leaks, foreign pointers)
    const char* firstViolation() const { return firstViolation_.load(); }

private:
    struct Array;
    static FakeJni& of(JNIEnv* env);
    static Array* arrayOf(jarray array);
    void violation(const char* what);

    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array);
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, const jbyte* buf);
    static void JNICALL setIntArrayRegion(JNIEnv* env, jintArray array, jsize start, jsize len, const jint* buf);

    JNINativeInterface_ table_;
    JNIEnv env_;
    std::vector<std::unique_ptr<Array>> arrays_;
    std::function<void()> lengthHook_;
    std::atomic<int> vmCalls_{0};
    std::atomic<int> lengthQueries_{0};
    std::atomic<int> violations_{0};
    std::atomic<const char*> firstViolation_{nullptr};
};
