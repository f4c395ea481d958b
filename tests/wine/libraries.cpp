#include "libraries.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace {

std::atomic<long> calls{0};
std::atomic<long> moved{0};

// Called from the x86 branch alone.
[[maybe_unused]] void record(std::uintptr_t before, std::uintptr_t after) {
    ++calls;
    if (before != after) ++moved;
}

// Built with a frame pointer (see CMakeLists.txt), so this frame survives a callee that leaves
// the stack pointer off; the two reads bracket nothing but the call and its argument pushes.
// Only x86 has conventions to mix up: on x86-64 the calls go straight through.
template <typename R, typename... P>
__attribute__((noinline)) R stdcallChecked(R(JNICALL* fn)(P...), std::type_identity_t<P>... args) {
    if constexpr (!kStackChecked) {
        return fn(args...);
    } else {
        std::uintptr_t before, after;
        asm volatile("movl %%esp, %0" : "=r"(before));
        if constexpr (std::is_void_v<R>) {
            fn(args...);
            asm volatile("movl %%esp, %0" : "=r"(after));
            record(before, after);
        } else {
            R result = fn(args...);
            asm volatile("movl %%esp, %0" : "=r"(after));
            record(before, after);
            return result;
        }
    }
}

template <typename Fn>
bool bind(HMODULE dll, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!fn) std::printf("missing export %s\n", name);
    return fn != nullptr;
}

HMODULE loadDll(const char* name) {
    HMODULE dll = LoadLibraryA(name);
    if (!dll) std::printf("cannot load %s (error %lu)\n", name, GetLastError());
    return dll;
}

}  // namespace

bool Voxcap::load() {
    HMODULE dll = loadDll("Voxcap.dll");
    return dll && bind(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_nopen", nopen_) &&
           bind(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_nclose", nclose_) &&
           bind(dll, "Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer", ngetBuffer_);
}

jint Voxcap::nopen(JNIEnv* env, jint sampleRate, jint channels, jint bitsPerSample, jint bufferSize,
                   jint bufferCount) const {
    return stdcallChecked(nopen_, env, jclass{}, sampleRate, channels, bitsPerSample, bufferSize, bufferCount);
}

void Voxcap::nclose(JNIEnv* env, jint handle) const { stdcallChecked(nclose_, env, jclass{}, handle); }

jint Voxcap::ngetBuffer(JNIEnv* env, jint handle, jbyteArray dest, jint offset, jint length) const {
    return stdcallChecked(ngetBuffer_, env, jclass{}, handle, dest, offset, length);
}

bool Deskcap::load() {
    HMODULE dll = loadDll("Deskcap.dll");
    return dll && bind(dll, "Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels", nGrabPixels_);
}

void Deskcap::nGrabPixels(JNIEnv* env, jintArray pixels, jint x, jint y, jint width, jint height) const {
    stdcallChecked(nGrabPixels_, env, jclass{}, pixels, x, y, width, height);
}

StackRecord stackRecord() { return {calls.load(), moved.load()}; }
