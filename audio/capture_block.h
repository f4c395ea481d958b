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

// The most that closing waits for readers inside ngetBuffer to leave.
constexpr DWORD kReadersLeaveMs = 2000;

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

// waveInOpen and waveInClose report from within the call, so once one has returned its notice is
// already set, or another capture's reader has taken it from the shared event. Open and close
// take it if it is still there, so it wakes no reader, and never wait for it.
inline void take_device_notice(CaptureBlock* block) { WaitForSingleObject(block->bufferEvent, 0); }

// Resets and closes the device, leaving no buffer queued and no header prepared.
void shut_device(CaptureBlock* block);
