// The part of the Windows API (kernel, GDI, USER) that the libraries call, declared for Linux.
// Names, types, constants and results follow the Windows documentation; a host backend
// (platform/host/<backend>) implements the functions.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef size_t SIZE_T;
typedef uintptr_t UINT_PTR;
typedef uintptr_t DWORD_PTR;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef void* HGLOBAL;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// ---- Kernel: last error, time, global heap, events, locks ---------------------------------

#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_ALREADY_EXISTS 183

DWORD WINAPI GetLastError(void);
DWORD WINAPI GetTickCount(void);
void WINAPI Sleep(DWORD milliseconds);

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE object);

// Slim reader/writer locks: one pointer, SRWLOCK_INIT needs no call, any number of shared
// holders or one exclusive holder.
typedef struct _RTL_SRWLOCK {
    void* Ptr;
} SRWLOCK, *PSRWLOCK;
#define SRWLOCK_INIT {0}

void WINAPI AcquireSRWLockShared(PSRWLOCK lock);
void WINAPI ReleaseSRWLockShared(PSRWLOCK lock);
void WINAPI AcquireSRWLockExclusive(PSRWLOCK lock);
void WINAPI ReleaseSRWLockExclusive(PSRWLOCK lock);

// ---- GDI and USER: the screen ------------------------------------------------------------

typedef struct HWND__* HWND;
typedef struct HDC__* HDC;
typedef struct HGDIOBJ__* HGDIOBJ;
typedef HGDIOBJ HBITMAP;

#define SRCCOPY 0x00CC0020u
#define BI_RGB 0
#define DIB_RGB_COLORS 0

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

HDC WINAPI GetWindowDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);
HDC WINAPI CreateCompatibleDC(HDC dc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage);
BOOL WINAPI DeleteObject(HGDIOBJ object);
BOOL WINAPI DeleteDC(HDC dc);
