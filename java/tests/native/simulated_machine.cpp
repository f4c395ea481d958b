// Lets the Java tests script failures of the simulated machine that the libraries run on.
#include <jni.h>

#include <control.h>

extern "C" JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_failNextRequeue(
    JNIEnv*, jclass, jint code) {
    dummy::fail(dummy::Call::WaveInAddBuffer, static_cast<uint32_t>(code));
}

extern "C" JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_reset(JNIEnv*, jclass) {
    dummy::reset();
}

extern "C" JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_refuseFormats(
    JNIEnv*, jclass, jboolean refuse) {
    dummy::mic_refuse_formats(refuse);
}

extern "C" JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_manualMicrophone(
    JNIEnv*, jclass, jboolean manual) {
    dummy::mic_manual(manual);
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_completeBuffer(
    JNIEnv*, jclass) {
    return dummy::mic_complete();
}

extern "C" JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_delayNotifications(
    JNIEnv*, jclass, jint milliseconds) {
    dummy::mic_delay_notifications(static_cast<DWORD>(milliseconds));
}

extern "C" JNIEXPORT jint JNICALL Java_com_velk_orvanta_content_client_audio_SimulatedMachine_openDevices(JNIEnv*, jclass) {
    return dummy::mic_state().devices;
}
