// Control surface of the simulated machine, for tests: script the microphone, paint the
// screen, inject failures, and count what is alive so leaks show.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#define DUMMY_API __attribute__((visibility("default")))

namespace dummy {

// ---- Scripted failures ----------------------------------------------------------------------

enum class Call {
    GlobalAlloc, CreateEvent,
    WaveInQuery, WaveInOpen, WaveInPrepare, WaveInUnprepare, WaveInAddBuffer,
    WaveInStart, WaveInStop, WaveInReset, WaveInClose,
    GetWindowDC, CreateCompatibleDC, CreateCompatibleBitmap, SelectObject, BitBlt, GetDIBits,
    Count
};

// The (skip + 1)-th next call of `call` fails. Device calls return `code`; the others return
// their documented failure value (NULL, FALSE, 0) and ignore it.
DUMMY_API void fail(Call call, uint32_t code = MMSYSERR_ERROR, int skip = 0);

// Back to the start state: real-time microphone, default screen, nothing scripted.
// Objects that are still alive stay alive (and counted).
DUMMY_API void reset();

// ---- Kernel -------------------------------------------------------------------------------

struct KernelState {
    int handles;        // open kernel handles
    int allocations;    // live GlobalAlloc blocks
    size_t bytes;       // their total size
};
DUMMY_API KernelState kernel_state();
// A freed block's address goes to the next block of its size, as a Windows heap does (reset:
// addresses spread at random).
DUMMY_API void heap_reuse_addresses(bool reuse);
DUMMY_API bool event_exists(const char* name);

// ---- Microphone ----------------------------------------------------------------------------

// What the simulated microphone records: the n-th little-endian 32-bit word of a device's
// recording holds n, so order, gaps and repeats show in the bytes.
DUMMY_API uint8_t signal_byte(uint64_t position);
// Writes `bytes` of that recording, from stream position `position` on, as the device does.
DUMMY_API void record_signal(uint8_t* data, uint64_t position, size_t bytes);

// Manual mode: buffers complete only through mic_complete, never by the clock.
DUMMY_API void mic_manual(bool manual);
// Records up to `bytes` into the head buffer of the newest started device and returns it done.
// False when no device has a queued buffer.
DUMMY_API bool mic_complete(DWORD bytes = 0xFFFFFFFFu);
// Every format is refused with WAVERR_BADFORMAT, as a device that takes nothing.
DUMMY_API void mic_refuse_formats(bool refuse);
// The event is not signalled when a device closes.
DUMMY_API void mic_lose_close_notification(bool lose);
// Every notification of every device arrives this much later than the event it reports.
DUMMY_API void mic_delay_notifications(DWORD milliseconds);

struct MicState {
    int devices;            // open devices
    int preparedHeaders;    // headers prepared and not yet unprepared
    int queuedBuffers;      // buffers in device queues
    int addBufferCalls;     // waveInAddBuffer calls since reset() (scripted failures aside)
    WAVEFORMATEX lastFormat; // the format of the last waveInOpen, query or not
};
DUMMY_API MicState mic_state();

// ---- Screen ----------------------------------------------------------------------------------

// Replaces the virtual screen: width x height pixels, rows from the top, 0x00RRGGBB each
// (the high byte is kept and read back as it is).
DUMMY_API void screen_set(int width, int height, const uint32_t* pixels);
// The start screen is 1024 x 768 with this pixel at (x, y).
DUMMY_API uint32_t screen_default_pixel(int x, int y);

struct ScreenState {
    int screenDCs;          // screen contexts taken and not released
    int memoryDCs;          // memory contexts not deleted
    int bitmaps;            // bitmaps not deleted
    int selections;         // bitmaps selected into a memory context, not selected out
    int bitBlts;            // BitBlt calls since reset()
    int getDIBits;          // GetDIBits calls since reset()
};
DUMMY_API ScreenState screen_state();

}  // namespace dummy
