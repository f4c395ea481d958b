// A borderless topmost window that paints a known picture at a known place on the screen.
#pragma once

#include <windows.h>

namespace pattern {

const int left = 120, top = 90, width = 64, height = 48;

// The colour (0xRRGGBB) of the window's pixel at column c, row r: every row and column differs,
// and red, green and blue each vary on their own.
unsigned long pixel(int c, int r);

// Shows the window and handles its messages until it has painted; the window stays until exit.
void show();

// Keeps the window responsive while the caller waits.
void pumpMessages(DWORD milliseconds);

}  // namespace pattern
