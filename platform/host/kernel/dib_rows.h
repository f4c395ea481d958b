// How GetDIBits lays a bitmap's rows into a caller's DIB, the same in every backend: only 32-bit
// BI_RGB DIBs as wide as the bitmap are taken; a positive height counts rows from the bottom, a
// negative one from the top; rows past the bitmap's height are skipped, not written.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// row_at(y) gives the bitmap's row y (top first), or nullptr for a row that reads as black.
// Returns the rows written, or 0 when the DIB is refused.
template <typename RowAt>
int copy_dib_rows(UINT startScan, UINT lines, LPVOID bits, const BITMAPINFO* info, UINT usage, int width,
                  int height, RowAt row_at) {
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
        uint32_t* to = out + (line - startScan) * width;
        const uint32_t* from = row_at(static_cast<int>(row));
        if (from)
            std::copy_n(from, width, to);
        else
            std::fill_n(to, width, 0u);
        ++written;
    }
    return written;
}
