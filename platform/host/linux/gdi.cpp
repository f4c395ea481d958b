// GDI and USER over X11. (To be written: no screen yet.)
#include <windows.h>

HDC WINAPI GetWindowDC(HWND) { return nullptr; }
int WINAPI ReleaseDC(HWND, HDC) { return 0; }
HDC WINAPI CreateCompatibleDC(HDC) { return nullptr; }
HBITMAP WINAPI CreateCompatibleBitmap(HDC, int, int) { return nullptr; }
HGDIOBJ WINAPI SelectObject(HDC, HGDIOBJ) { return nullptr; }
BOOL WINAPI BitBlt(HDC, int, int, int, int, HDC, int, int, DWORD) { return FALSE; }
int WINAPI GetDIBits(HDC, HBITMAP, UINT, UINT, LPVOID, BITMAPINFO*, UINT) { return 0; }
BOOL WINAPI DeleteObject(HGDIOBJ) { return FALSE; }
BOOL WINAPI DeleteDC(HDC) { return FALSE; }
