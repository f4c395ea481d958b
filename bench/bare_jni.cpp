#include "bare_jni.h"

#include <cstring>

namespace {

std::vector<jbyte>& bytesOf(jarray array) { return *reinterpret_cast<std::vector<jbyte>*>(array); }

jsize JNICALL getArrayLength(JNIEnv*, jarray array) { return static_cast<jsize>(bytesOf(array).size()); }

void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length, const jbyte* bytes) {
    std::memcpy(bytesOf(array).data() + start, bytes, static_cast<size_t>(length));
}

}  // namespace

BareJni::BareJni() {
    table_.GetArrayLength = &getArrayLength;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    env_.functions = &table_;
}
