// Handing recorded buffers to Java, one per call, in the order they were recorded: wait for
// the ring's next buffer, copy it into the Java array, give it back to the device, move on.
#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include <cstring>

#include "capture_handles.h"

namespace {

constexpr jint kHandedOver = 0;
constexpr jint kRefused = 1;

// The event is shared by every capture open at the same time, so another capture's reader
// may take the notice meant for this one, and nothing orders a notice after the done flag it
// reports: look at the header again at least this often rather than wait for a later notice.
constexpr DWORD kRecheckMs = 20;

// The ring's next buffer once the device has returned it, or null when the capture is
// closing and it has not. A done buffer is taken even while closing.
WAVEHDR* next_done_buffer(CaptureBlock* block) {
    WAVEHDR* header = &block->headers[block->nextIndex];
    for (;;) {
        if (is_done(header)) return header;
        if (is_closing(block)) return nullptr;
        // A wake-up says only that something happened; the loop looks again either way. The
        // event resets itself when a wait takes it; a reset here could only wipe a notice that
        // came since, meant for another capture's open or close.
        WaitForSingleObject(block->bufferEvent, kRecheckMs);
    }
}

// Copies what the device recorded and zeroes the rest of the request, so no stale bytes
// from an earlier turn of the ring reach Java. The buffer is out of the device's queue, so its
// tail can be zeroed in place: one region copy is then the only pass over the bytes.
void copy_to_java(JNIEnv* env, jbyteArray dest, jint offset, jint length, char* data, DWORD recorded) {
    if (recorded < static_cast<DWORD>(length)) std::memset(data + recorded, 0, static_cast<size_t>(length) - recorded);
    env->SetByteArrayRegion(dest, offset, length, reinterpret_cast<const jbyte*>(data));
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(
    JNIEnv* env, jclass, jint handle, jbyteArray dest, jint offset, jint length) {
    if (!handle || !dest || offset < 0 || length < 0 || offset > INT32_MAX - length) return kRefused;
    // A handle that names no open capture (never opened, closed, or closing) reaches no block.
    CaptureUse use(handle);
    CaptureBlock* block = use.block();
    if (!block) return kRefused;
    if (length > block->bufferSize) return kRefused;
    if (offset + length > env->GetArrayLength(dest)) return kRefused;

    WAVEHDR* header = next_done_buffer(block);
    if (!header) return kRefused;
    // Once closing, the device hands back every queued buffer empty: those hold no audio.
    if (header->dwBytesRecorded == 0 && is_closing(block)) return kRefused;
    copy_to_java(env, dest, offset, length, block->buffers[block->nextIndex], header->dwBytesRecorded);

    // Only the done flag goes: the header stays prepared for the re-queue.
    flags_of(header).fetch_and(~WHDR_DONE);
    // A closing capture's device is being shut down: nothing goes back into its queue. A close
    // that begins just after this look still finds the buffer queued: it waits for this reader
    // to leave before it resets the device, which then hands the buffer back empty.
    if (!is_closing(block)) {
        block->lastResult = waveInAddBuffer(block->waveIn, header, sizeof(WAVEHDR));
        if (block->lastResult != MMSYSERR_NOERROR) return static_cast<jint>(block->lastResult);
    }
    block->nextIndex = (block->nextIndex + 1) % block->bufferCount;
    return kHandedOver;
}

}  // extern "C"
