// Handing recorded buffers to Java, one per call, in the order they were recorded: wait for
// the ring's next buffer, copy it into the Java array, give it back to the device, move on.
#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include <cstring>

#include "capture_block.h"

namespace {

constexpr jint kHandedOver = 0;
constexpr jint kRefused = 1;

// The event is shared by every capture open at the same time, so another capture's reader
// may take the notice meant for this one, and nothing orders a notice after the done flag it
// reports: look at the header again at least this often rather than wait for a later notice.
constexpr DWORD kRecheckMs = 20;

// Keeps the block alive while this thread is inside the call, even if close gives up on it.
class ReaderPass {
public:
    explicit ReaderPass(CaptureBlock* block) : block_(block) { take_use(block_); }
    ~ReaderPass() { drop_use(block_); }
    ReaderPass(const ReaderPass&) = delete;
    ReaderPass& operator=(const ReaderPass&) = delete;

private:
    CaptureBlock* block_;
};

// The ring's next buffer once the device has returned it, or null when the capture is
// closing and it has not. A done buffer is taken even while closing.
WAVEHDR* next_done_buffer(CaptureBlock* block) {
    WAVEHDR* header = &block->headers[block->nextIndex];
    for (;;) {
        if (is_done(header)) return header;
        if (is_closing(block)) return nullptr;
        // A wake-up says only that something happened; the loop looks again either way.
        WaitForSingleObject(block->bufferEvent, kRecheckMs);
        ResetEvent(block->bufferEvent);
    }
}

// Copies what the device recorded and zeroes the rest of the request, so no stale bytes
// from an earlier turn of the ring reach Java.
bool copy_to_java(JNIEnv* env, jbyteArray dest, jint offset, jint length, const char* data, DWORD recorded) {
    jbyte* bytes = env->GetByteArrayElements(dest, nullptr);
    if (!bytes) return false;
    DWORD copied = recorded < static_cast<DWORD>(length) ? recorded : static_cast<DWORD>(length);
    std::memcpy(bytes + offset, data, copied);
    std::memset(bytes + offset + copied, 0, static_cast<size_t>(length) - copied);
    env->ReleaseByteArrayElements(dest, bytes, 0);
    return true;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(
    JNIEnv* env, jclass, jint handle, jbyteArray dest, jint offset, jint length) {
    if (!handle || !dest || offset < 0 || length < 0 || offset > INT32_MAX - length) return kRefused;
    CaptureBlock* block = block_of(handle);
    ReaderPass pass(block);
    if (length > block->bufferSize) return kRefused;
    if (offset + length > env->GetArrayLength(dest)) return kRefused;

    WAVEHDR* header = next_done_buffer(block);
    if (!header) return kRefused;
    // Once closing, the device hands back every queued buffer empty: those hold no audio.
    if (header->dwBytesRecorded == 0 && is_closing(block)) return kRefused;
    // If the VM cannot lend the array, the buffer stays done and the next call takes it.
    if (!copy_to_java(env, dest, offset, length, block->buffers[block->nextIndex], header->dwBytesRecorded))
        return kRefused;

    // Only the done flag goes: the header stays prepared for the re-queue.
    flags_of(header).fetch_and(~WHDR_DONE);
    // A closing capture's device is being shut down: nothing goes back into its queue.
    if (!is_closing(block)) {
        block->lastResult = waveInAddBuffer(block->waveIn, header, sizeof(WAVEHDR));
        if (block->lastResult != MMSYSERR_NOERROR) return static_cast<jint>(block->lastResult);
    }
    block->nextIndex = (block->nextIndex + 1) % block->bufferCount;
    return kHandedOver;
}

}  // extern "C"
