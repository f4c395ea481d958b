// nGrabPixels copies a rectangle of the screen into a Java int array: one 32-bit pixel per
// element, blue in the low byte, rows from the top. Each call takes what it needs from the
// system and gives all of it back before it returns; nothing is kept between calls.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"

namespace {

// 32-bit BI_RGB pixels; the negative height asks for the rows from the top down.
BITMAPINFO top_down_rgb32(jint width, jint height) {
    BITMAPINFO layout{};
    layout.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    layout.bmiHeader.biWidth = width;
    layout.bmiHeader.biHeight = -height;
    layout.bmiHeader.biPlanes = 1;
    layout.bmiHeader.biBitCount = 32;
    layout.bmiHeader.biCompression = BI_RGB;
    return layout;
}

// Reads the bitmap's pixels into the scratch buffer. The buffer comes from the heap unzeroed:
// the read writes the rows it reports, and only the rows after them are zeroed here, which
// gives what a zero-filled buffer would give without a separate pass over the whole picture.
void read_pixels(HDC dc, HBITMAP bitmap, jint width, jint height, jint* scratch) {
    BITMAPINFO layout = top_down_rgb32(width, height);
    int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), scratch, &layout, DIB_RGB_COLORS);
    if (rows < 0 || rows > height) rows = 0;
    const size_t written = static_cast<size_t>(rows) * static_cast<size_t>(width);
    const size_t all = static_cast<size_t>(height) * static_cast<size_t>(width);
    std::memset(scratch + written, 0, (all - written) * sizeof(jint));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(
    JNIEnv* env, jclass, jintArray pixels, jint x, jint y, jint width, jint height) {
    // The array must hold the picture exactly. The sizes are multiplied in 64 bits, so a
    // product that would wrap in 32 bits can never pass for the array's length.
    if (!pixels || width < 0 || height < 0) return;
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t bytes = count * sizeof(jint);
    if (count > uint64_t{INT32_MAX} || static_cast<SIZE_T>(bytes) != bytes) return;
    if (env->GetArrayLength(pixels) != static_cast<jsize>(count)) return;

    // Copy the rectangle into a fresh bitmap in the screen's format.
    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ replaced = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);

    // Read it as 32-bit rows from the top and hand the whole picture to Java in one copy.
    auto* scratch = static_cast<jint*>(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(bytes)));
    if (scratch) {
        read_pixels(memory, bitmap, width, height, scratch);
        env->SetIntArrayRegion(pixels, 0, static_cast<jsize>(count), scratch);
    }

    // Give everything back, the bitmap selected out first so that it can be deleted.
    SelectObject(memory, replaced);
    if (scratch) GlobalFree(scratch);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // extern "C"
