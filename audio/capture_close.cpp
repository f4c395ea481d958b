// Closing a capture: stop the device, let any reader inside ngetBuffer get out, shut the
// device down and release the block. Only the readers are waited for, at most kReadersLeaveMs.
#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include "capture_handles.h"

namespace {

DWORD time_left(DWORD since) {
    DWORD spent = GetTickCount() - since;
    return spent < kReadersLeaveMs ? kReadersLeaveMs - spent : 0;
}

// A reader that is waiting is woken by the device's notifications, but one that had not yet
// started to wait when they came would sleep through them: keep signalling until every reader
// has left, so none of them is still waiting when the device closes and takes its notice.
void wait_for_readers(CaptureBlock* block, DWORD since) {
    while (active_uses(block) > 1 && time_left(since) > 0) {
        SetEvent(block->bufferEvent);
        Sleep(1);
    }
}

}  // namespace

void shut_device(CaptureBlock* block) {
    if (!block->waveIn) return;
    waveInReset(block->waveIn);
    ResetEvent(block->bufferEvent);
    // The device keeps per-header resources until the headers are unprepared, which must
    // happen before it closes and before the buffers are freed.
    for (int32_t i = 0; i < block->bufferCount; ++i)
        if (flags_of(&block->headers[i]).load() & WHDR_PREPARED)
            waveInUnprepareHeader(block->waveIn, &block->headers[i], sizeof(WAVEHDR));
    // A device that refused to close sends no notice.
    if (waveInClose(block->waveIn) == MMSYSERR_NOERROR) take_device_notice(block);
}

void release_capture(CaptureBlock* block) {
    for (int32_t i = 0; i < block->bufferCount; ++i)
        if (block->buffers[i]) GlobalFree(block->buffers[i]);
    if (block->bufferEvent) CloseHandle(block->bufferEvent);
}

extern "C" {

JNIEXPORT void JNICALL Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(JNIEnv*, jclass, jint handle) {
    // Only the first close of an open capture gets its block; any other handle does nothing.
    CaptureBlock* block = withdraw_capture(handle);
    if (!block) return;
    DWORD since = GetTickCount();
    // First of all, so that a reader that wakes without a finished buffer returns.
    std::atomic_ref<int32_t>(block->closing).store(1);
    // The buffer being filled comes back with what it holds; a waiting reader takes it.
    waveInStop(block->waveIn);
    wait_for_readers(block, since);
    shut_device(block);
    // A reader still inside after the time limit frees the block when it leaves.
    leave_capture(block);
}

}  // extern "C"
