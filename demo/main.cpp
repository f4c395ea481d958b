// capture-demo [SECONDS]: uses Voxcap.dll and Deskcap.dll from its own folder exactly as the Java
// VM does, through their JNI entry points, and shows that both work on this machine: it records
// from the default recording device into voice.wav and grabs the whole screen into screen.bmp,
// both in the current folder. Exit status: 0 when both worked.
#include "bmp_file.h"
#include "fake_jni.h"
#include "wav_file.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const jint sampleRate = 16000;
const jint bufferBytes = sampleRate / 10 * 2;  // a tenth of a second of 16-bit mono
const jint bufferCount = 8;

using Nopen = jint(JNICALL*)(JNIEnv*, jclass, jint, jint, jint, jint, jint);
using Nclose = void(JNICALL*)(JNIEnv*, jclass, jint);
using NgetBuffer = jint(JNICALL*)(JNIEnv*, jclass, jint, jbyteArray, jint, jint);
using NGrabPixels = void(JNICALL*)(JNIEnv*, jclass, jintArray, jint, jint, jint, jint);

// Binds a native method the way the VM does: by the undecorated JNI name in the loaded DLL.
template <typename Fn>
Fn bind(const char* dll, const char* name) {
    HMODULE module = LoadLibraryA(dll);
    Fn fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    if (!fn) std::printf("%s: cannot find %s (error %lu)\n", dll, name, GetLastError());
    return fn;
}

int peakOf(const std::vector<signed char>& pcm) {
    int peak = 0;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        int sample = static_cast<short>(static_cast<unsigned char>(pcm[i]) | pcm[i + 1] << 8);
        if (std::abs(sample) > peak) peak = std::abs(sample);
    }
    return peak;
}

bool record(FakeJni& jni, int seconds) {
    const char* dll = "Voxcap.dll";
    auto nopen = bind<Nopen>(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_nopen");
    auto nclose = bind<Nclose>(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_nclose");
    auto ngetBuffer = bind<NgetBuffer>(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer");
    if (!nopen || !nclose || !ngetBuffer) return false;

    jint handle = nopen(jni.env(), nullptr, sampleRate, 1, 16, bufferBytes, bufferCount);
    if (handle == 0) {
        std::printf("Recording: no recording device takes %ld Hz mono 16-bit (nopen gave 0)\n",
                    static_cast<long>(sampleRate));
        return false;
    }
    jbyteArray buffer = jni.newByteArray(bufferBytes);
    std::vector<signed char> pcm;
    jint result = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < seconds * 10 && result == 0; ++i) {
        result = ngetBuffer(jni.env(), nullptr, handle, buffer, 0, bufferBytes);
        if (result == 0) pcm.insert(pcm.end(), jni.bytes(buffer), jni.bytes(buffer) + bufferBytes);
    }
    DWORD took = GetTickCount() - start;
    nclose(jni.env(), nullptr, handle);
    if (result != 0) std::printf("Recording: ngetBuffer stopped with %ld\n", static_cast<long>(result));

    int peak = peakOf(pcm);
    std::printf("Recorded %.1f s (in %.1f s) from the default recording device: %ld Hz, mono, 16-bit, "
                "%lu bytes, peak level %d of 32767 (%.1f dBFS)\n",
                static_cast<double>(pcm.size()) / (2.0 * sampleRate), took / 1000.0, static_cast<long>(sampleRate),
                static_cast<unsigned long>(pcm.size()), peak, peak ? 20 * std::log10(peak / 32767.0) : -99.0);
    bool saved = writeWav("voice.wav", pcm.data(), pcm.size(), sampleRate, 1);
    std::printf(saved ? "Wrote voice.wav\n" : "Could not write voice.wav\n");
    return result == 0 && saved;
}

bool grabScreen(FakeJni& jni) {
    auto nGrabPixels =
        bind<NGrabPixels>("Deskcap.dll", "Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels");
    if (!nGrabPixels) return false;
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    jintArray pixels = jni.newIntArray(width * height);
    nGrabPixels(jni.env(), nullptr, pixels, 0, 0, width, height);
    long distinct = 0;
    for (int i = 1; i < width * height; ++i) distinct += (jni.ints(pixels)[i] ^ jni.ints(pixels)[i - 1]) & 0xFFFFFF;
    std::printf("Grabbed the screen: %d x %d pixels, %lu bytes, %s\n", width, height,
                4ul * width * height, distinct ? "with a picture on it" : "all one colour");
    bool saved = writeBmp("screen.bmp", jni.ints(pixels), width, height);
    std::printf(saved ? "Wrote screen.bmp\n" : "Could not write screen.bmp\n");
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (seconds < 1) seconds = 5;
    FakeJni jni;
    bool recorded = record(jni, seconds);
    bool grabbed = grabScreen(jni);
    std::fflush(stdout);
    return recorded && grabbed ? 0 : 1;
}
