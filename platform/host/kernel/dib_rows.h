// How GetDIBits lays a bitmap's rows into a caller's DIB, the same in every backend: only 32-bit
// BI_RGB DIBs as wide as the bitmap are taken; a positive height counts rows from the bottom, a
// negative one from the top; rows past the bitmap's height are skipped, not written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>

// write_row(y, to) writes the bitmap's row y (top first) as `width` pixels at `to`, so that a
// bitmap can convert its pixels straight into the caller's rows. Returns the rows written, or 0
// when the DIB is refused.
template <typename WriteRow>
int copy_dib_rows(UINT startScan, UINT lines, LPVOID bits, const BITMAPINFO* info, UINT usage, int width,
                  int height, WriteRow write_row) {
    if (!bits || !info || usage != DIB_RGB_COLORS) return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 32 ||
        header.biCompression != BI_RGB || header.biWidth != width || header.biHeight == 0)
        return 0;
    bool top_down = header.biHeight < 0;
    int64_t dib_rows = std::llabs(int64_t{header.biHeight});
    auto* out = static_cast<uint32_t*>(bits);
    int written = 0;
    for (int64_t line = startScan; line < int64_t{startScan} + lines && line < dib_rows; ++line) {
        int64_t row = top_down ? line : dib_rows - 1 - line;
        if (row >= height) continue;
        write_row(static_cast<int>(row), out + (line - startScan) * width);
        ++written;
    }
    return written;
}
