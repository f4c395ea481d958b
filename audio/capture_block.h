// The record of one open capture, and the rules by which the threads that use it share it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <below_2gib.h>
#include <jni.h>

#include <atomic>
#include <cstdint>

constexpr int32_t kMaxBuffers = 256;

// Every capture creates (or opens) this event; captures open at the same time share it.
constexpr char kBufferEventName[] = "Sound In Buffer Status";

// The most that closing waits, for readers to leave and for the device to report.
constexpr DWORD kDeviceNoticeMs = 2000;

// Once waveInOpen or waveInClose has succeeded the device is open or closed; its notice only
// says so, and on the shared event another capture's reader may have taken it. So open and
// close wait only this long for it; a notice that comes later wakes a reader, which looks again.
constexpr DWORD kNoticeSliceMs = 50;

struct CaptureBlock {
    HWAVEIN waveIn;
    HANDLE bufferEvent;
    int32_t bitsPerSample;
    int32_t channels;
    int32_t bufferSize;
    int32_t bufferCount;
    int32_t sampleRate;
    WAVEFORMATEX format;
    LPSTR buffers[kMaxBuffers];
    WAVEHDR headers[kMaxBuffers];
    MMRESULT lastResult;
    int32_t nextIndex;
    int32_t closing;
    // The open capture holds one use; every thread inside ngetBuffer holds another.
    // Whoever lets go of the last use frees the block (see capture_handles.h).
    LONG uses;
};

// Java holds a capture as the block's address, which allocate_below_2gib keeps within a
// positive jint.
inline jint handle_of(CaptureBlock* block) { return static_cast<jint>(reinterpret_cast<uintptr_t>(block)); }

inline CaptureBlock* block_of(jint handle) {
    return reinterpret_cast<CaptureBlock*>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
}

// `closing` and the headers' flags are written by other threads (close, the device);
// every look at them is a fresh atomic load.
inline bool is_closing(CaptureBlock* block) { return std::atomic_ref<int32_t>(block->closing).load() != 0; }

inline std::atomic_ref<DWORD> flags_of(WAVEHDR* header) { return std::atomic_ref<DWORD>(header->dwFlags); }

// The device publishes a buffer's bytes and byte count with the flag that marks it done.
inline bool is_done(WAVEHDR* header) { return flags_of(header).load(std::memory_order_acquire) & WHDR_DONE; }

inline LONG active_uses(CaptureBlock* block) { return std::atomic_ref<LONG>(block->uses).load(); }

inline void take_use(CaptureBlock* block) { std::atomic_ref<LONG>(block->uses).fetch_add(1); }

// True for the last use.
inline bool drop_use(CaptureBlock* block) { return std::atomic_ref<LONG>(block->uses).fetch_sub(1) == 1; }

// Frees the capture's buffers and event; the device must already be closed. The block itself
// goes back through capture_handles.
void release_capture(CaptureBlock* block);

// Resets and closes the device, leaving no buffer queued and no header prepared, within
// what is left of kDeviceNoticeMs since `since` (a GetTickCount value).
void shut_device(CaptureBlock* block, DWORD since);
