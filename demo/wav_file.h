// Writes 16-bit PCM audio as a WAV file.
#pragma once

#include <cstddef>

bool writeWav(const char* path, const signed char* pcm, std::size_t bytes, int sampleRate, int channels);
