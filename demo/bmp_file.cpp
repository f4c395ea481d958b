#include "bmp_file.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void put(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

}  // namespace

bool writeBmp(const char* path, const long* pixels, int width, int height) {
    const std::uint32_t stride = (3u * width + 3) & ~3u;  // rows are padded to 4 bytes
    const std::uint32_t imageBytes = stride * height;
    std::vector<unsigned char> file;
    file.push_back('B');
    file.push_back('M');
    put(file, 54 + imageBytes, 4);
    put(file, 0, 4);
    put(file, 54, 4);  // where the pixels start
    put(file, 40, 4);  // BITMAPINFOHEADER
    put(file, width, 4);
    put(file, height, 4);  // positive: rows from the bottom
    put(file, 1, 2);
    put(file, 24, 2);
    put(file, 0, 4);  // BI_RGB
    put(file, imageBytes, 4);
    put(file, 2835, 4);  // 72 dpi
    put(file, 2835, 4);
    put(file, 0, 4);
    put(file, 0, 4);
    for (int r = height - 1; r >= 0; --r) {
        for (int c = 0; c < width; ++c) put(file, static_cast<std::uint32_t>(pixels[r * width + c]), 3);
        file.resize(file.size() + stride - 3u * width, 0);
    }
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && written;
}
