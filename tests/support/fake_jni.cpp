#include "fake_jni.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void JNICALL unexpectedCall() {
    std::fputs("fake JNI: a JNI function the libraries must not use was called\n", stderr);
    std::abort();
}

}  // namespace

// Each array knows its kind, so a region call on the wrong kind shows.
struct FakeJni::Array {
    bool isBytes;
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    jsize length() const { return static_cast<jsize>(isBytes ? bytes.size() : ints.size()); }
};

FakeJni::FakeJni() {
    void** slots = reinterpret_cast<void**>(&table_);
    for (size_t i = 0; i < sizeof(table_) / sizeof(void*); ++i) slots[i] = reinterpret_cast<void*>(&unexpectedCall);
    table_.reserved0 = this;
    table_.GetArrayLength = &getArrayLength;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    table_.SetIntArrayRegion = &setIntArrayRegion;
    env_.functions = &table_;
}

FakeJni::~FakeJni() = default;

FakeJni& FakeJni::of(JNIEnv* env) { return *static_cast<FakeJni*>(env->functions->reserved0); }

FakeJni::Array* FakeJni::arrayOf(jarray array) { return reinterpret_cast<Array*>(array); }

void FakeJni::violation(const char* what) {
    const char* none = nullptr;
    firstViolation_.compare_exchange_strong(none, what);
    ++violations_;
}

jbyteArray FakeJni::newByteArray(jsize length, jbyte fill) {
    arrays_.push_back(std::unique_ptr<Array>(new Array{true, std::vector<jbyte>(length, fill), {}}));
    return reinterpret_cast<jbyteArray>(arrays_.back().get());
}

jintArray FakeJni::newIntArray(jsize length, jint fill) {
    arrays_.push_back(std::unique_ptr<Array>(new Array{false, {}, std::vector<jint>(length, fill)}));
    return reinterpret_cast<jintArray>(arrays_.back().get());
}

jbyte* FakeJni::bytes(jbyteArray array) { return arrayOf(array)->bytes.data(); }
jint* FakeJni::ints(jintArray array) { return arrayOf(array)->ints.data(); }

jsize JNICALL FakeJni::getArrayLength(JNIEnv* env, jarray array) {
    FakeJni& jni = of(env);
    ++jni.vmCalls_;
    ++jni.lengthQueries_;
    if (jni.lengthHook_) jni.lengthHook_();
    if (!array) {
        jni.violation("GetArrayLength on null");
        return 0;
    }
    return arrayOf(array)->length();
}

void JNICALL FakeJni::setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, const jbyte* buf) {
    FakeJni& jni = of(env);
    ++jni.vmCalls_;
    if (!array || !arrayOf(array)->isBytes) {
        jni.violation("SetByteArrayRegion on null or on a non-byte array");
        return;
    }
    Array& a = *arrayOf(array);
    if (start < 0 || len < 0 || start > a.length() - len) {
        jni.violation("SetByteArrayRegion out of bounds");
        return;
    }
    if (len > 0 && !buf) {
        jni.violation("SetByteArrayRegion from null");
        return;
    }
    if (len > 0) std::memcpy(a.bytes.data() + start, buf, static_cast<size_t>(len));
}

void JNICALL FakeJni::setIntArrayRegion(JNIEnv* env, jintArray array, jsize start, jsize len, const jint* buf) {
    FakeJni& jni = of(env);
    ++jni.vmCalls_;
    if (!array || arrayOf(array)->isBytes) {
        jni.violation("SetIntArrayRegion on null or on a non-int array");
        return;
    }
    Array& a = *arrayOf(array);
    if (start < 0 || len < 0 || start > a.length() - len) {
        jni.violation("SetIntArrayRegion out of bounds");
        return;
    }
    if (len > 0 && !buf) {
        jni.violation("SetIntArrayRegion from null");
        return;
    }
    if (len > 0) std::memcpy(a.ints.data() + start, buf, sizeof(jint) * static_cast<size_t>(len));
}
