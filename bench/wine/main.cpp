// wine_bench: figures of the shipped DLLs on Wine, each beside a baseline from the same run.
// - close: nclose while a reader is blocked in ngetBuffer, until both have returned, against
//   nclose with no reader (run with a recording device: tests/wine/env.sh provides one);
// - grab: nGrabPixels of the whole screen against the bare GDI path (BitBlt and GetDIBits into
//   a buffer that is kept), as a ratio of medians;
// - open and close: 30 rounds of one capture beside three others being read, against the same
//   with no other capture (the slowest open and close of each).
// Prints one "name key=value ..." line per figure, for bench/run.sh.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "busy_rounds.h"
#include "capture.h"
#include "dib_layout.h"
#include "fake_jni.h"
#include "libraries.h"

namespace {

constexpr jint kRate = 8000;
constexpr jint kBufferBytes = 16000;  // a second of audio: the reader is sure to be waiting
constexpr int kCloseSamples = 10;
constexpr int kGrabRounds = 30;
constexpr int kOpenCloseRounds = 30;

using capture::millisecondsNow;

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void print(const char* name, const std::vector<double>& ms) {
    std::printf("%s median_ms=%.3f max_ms=%.3f samples=%zu\n", name, median(ms),
                *std::max_element(ms.begin(), ms.end()), ms.size());
}

struct Reader {
    const Voxcap* voxcap;
    FakeJni* jni;
    jint handle;
    jbyteArray dest;
    double returnedAt;
};

DWORD WINAPI readOnce(void* context) {
    auto* reader = static_cast<Reader*>(context);
    reader->voxcap->ngetBuffer(reader->jni->env(), reader->handle, reader->dest, 0, kBufferBytes);
    reader->returnedAt = millisecondsNow();
    return 0;
}

// Returns false when no capture could be opened (no recording device).
bool closeFigures(const Voxcap& voxcap) {
    std::vector<double> blocked, alone;
    for (int i = 0; i < kCloseSamples; ++i) {
        FakeJni jni;
        jint handle = voxcap.nopen(jni.env(), kRate, 1, 16, kBufferBytes, 4);
        if (!handle) return false;
        Reader reader{&voxcap, &jni, handle, jni.newByteArray(kBufferBytes), 0};
        HANDLE thread = CreateThread(nullptr, 0, readOnce, &reader, 0, nullptr);
        Sleep(200);
        double start = millisecondsNow();
        voxcap.nclose(jni.env(), handle);
        double closed = millisecondsNow();
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        blocked.push_back(std::max(closed, reader.returnedAt) - start);

        handle = voxcap.nopen(jni.env(), kRate, 1, 16, kBufferBytes, 4);
        if (!handle) return false;
        Sleep(50);
        start = millisecondsNow();
        voxcap.nclose(jni.env(), handle);
        alone.push_back(millisecondsNow() - start);
    }
    print("wine_close_with_blocked_reader", blocked);
    print("wine_close_without_reader", alone);
    return true;
}

void openCloseFigures(const Voxcap& voxcap) {
    const struct {
        const char* name;
        int busyCaptures;
    } runs[] = {{"wine_open_close_beside_three_busy", 3}, {"wine_open_close_alone", 0}};
    for (const auto& run : runs) {
        capture::BusyRounds rounds = capture::openCloseRounds(voxcap, run.busyCaptures, kOpenCloseRounds);
        if (!rounds.busyOpened || !rounds.allOpened || !rounds.readersEnded)
            std::printf("%s failed=1\n", run.name);
        else
            std::printf("%s open_max_ms=%.3f close_max_ms=%.3f rounds=%d\n", run.name, rounds.slowestOpenMs,
                        rounds.slowestCloseMs, kOpenCloseRounds);
    }
}

// The work every grab must do, written out directly: a fresh bitmap and scratch buffer per
// call, nothing kept, and the copy into the array. What nGrabPixels costs beyond this is its own.
void grabStepsDirectly(int width, int height, const BITMAPINFO& layout, std::vector<jint>& pixels) {
    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ replaced = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SIZE_T bytes = pixels.size() * sizeof(jint);
    void* scratch = GlobalAlloc(GMEM_FIXED, bytes);
    BITMAPINFO request = layout;
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), scratch, &request, DIB_RGB_COLORS);
    std::memcpy(pixels.data(), scratch, bytes);
    SelectObject(memory, replaced);
    GlobalFree(scratch);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

void grabFigures(const Deskcap& deskcap) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    FakeJni jni;
    jintArray pixels = jni.newIntArray(width * height);

    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ replaced = SelectObject(memory, bitmap);
    BITMAPINFO layout = topDownRgb32(width, height);
    std::vector<DWORD> buffer(static_cast<size_t>(width) * static_cast<size_t>(height));

    std::vector<jint> copy(buffer.size());
    std::vector<double> grab, bare, steps;
    for (int i = 0; i < kGrabRounds; ++i) {
        double start = millisecondsNow();
        deskcap.nGrabPixels(jni.env(), pixels, 0, 0, width, height);
        grab.push_back(millisecondsNow() - start);
        start = millisecondsNow();
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), buffer.data(), &layout, DIB_RGB_COLORS);
        bare.push_back(millisecondsNow() - start);
        start = millisecondsNow();
        grabStepsDirectly(width, height, layout, copy);
        steps.push_back(millisecondsNow() - start);
    }
    SelectObject(memory, replaced);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::printf("wine_grab_screen width=%d height=%d\n", width, height);
    print("wine_nGrabPixels", grab);
    print("wine_bitblt_getdibits", bare);
    print("wine_grab_steps_directly", steps);
    std::printf("wine_grab_ratio ratio=%.3f steps_ratio=%.3f\n", median(grab) / median(bare), median(grab) / median(steps));
}

}  // namespace

int main() {
    Voxcap voxcap;
    Deskcap deskcap;
    if (!voxcap.load() || !deskcap.load()) return 1;
    if (closeFigures(voxcap))
        openCloseFigures(voxcap);
    else
        std::printf("wine_close_with_blocked_reader skipped=no-recording-device\n");
    grabFigures(deskcap);
    return 0;
}
