#include "wav_file.h"

#include <cstdint>
#include <cstdio>

namespace {

void put16(std::FILE* f, std::uint16_t v) {
    std::fputc(v & 0xFF, f);
    std::fputc(v >> 8, f);
}

void put32(std::FILE* f, std::uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

}  // namespace

bool writeWav(const char* path, const signed char* pcm, std::size_t bytes, int sampleRate, int channels) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    const std::uint32_t blockAlign = 2 * channels;
    std::fputs("RIFF", f);
    put32(f, static_cast<std::uint32_t>(36 + bytes));
    std::fputs("WAVEfmt ", f);
    put32(f, 16);
    put16(f, 1);  // PCM
    put16(f, static_cast<std::uint16_t>(channels));
    put32(f, static_cast<std::uint32_t>(sampleRate));
    put32(f, sampleRate * blockAlign);
    put16(f, static_cast<std::uint16_t>(blockAlign));
    put16(f, 16);
    std::fputs("data", f);
    put32(f, static_cast<std::uint32_t>(bytes));
    bool written = std::fwrite(pcm, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && written;
}
