#include "pattern_window.h"

#include <vector>

#include "dib_layout.h"

namespace pattern {

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
    std::vector<DWORD> bits(width * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) bits[r * width + c] = pixel(c, r);
    BITMAPINFO info = topDownRgb32(width, height);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, bits.data(), &info, DIB_RGB_COLORS);
    EndPaint(window, &paint);
    return 0;
}

}  // namespace

unsigned long pixel(int c, int r) {
    return static_cast<unsigned long>((r * 5 + 10) << 16 | (c * 3 + 20) << 8 | ((r * 7 + c * 11) & 0xFF));
}

void show() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DeskcapTestPattern";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "", WS_POPUP | WS_VISIBLE, left, top,
                                  width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
    UpdateWindow(window);
    pumpMessages(300);
}

void pumpMessages(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

}  // namespace pattern
