// Writes a picture of 0x00RRGGBB pixels, rows from the top, as a 24-bit BMP file.
#pragma once

bool writeBmp(const char* path, const long* pixels, int width, int height);
