// The layout the Windows-side programs paint and read pixels in: 32-bit BI_RGB, rows from
// the top (the negative height asks for top-down rows).
#pragma once

#include <windows.h>

inline BITMAPINFO topDownRgb32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}
