#include "pinning_jni.h"

namespace {

std::vector<jbyte>& bytesOf(jarray array) { return *reinterpret_cast<std::vector<jbyte>*>(array); }

jsize JNICALL getArrayLength(JNIEnv*, jarray array) { return static_cast<jsize>(bytesOf(array).size()); }

jbyte* JNICALL getByteArrayElements(JNIEnv*, jbyteArray array, jboolean* isCopy) {
    if (isCopy) *isCopy = JNI_FALSE;
    return bytesOf(array).data();
}

void JNICALL releaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint) {}

}  // namespace

PinningJni::PinningJni() {
    table_.GetArrayLength = &getArrayLength;
    table_.GetByteArrayElements = &getByteArrayElements;
    table_.ReleaseByteArrayElements = &releaseByteArrayElements;
    env_.functions = &table_;
}
