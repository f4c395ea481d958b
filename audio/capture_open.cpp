// Opening a capture: allocate its block, open the default recording device in the requested
// PCM format with the buffer event as its callback, queue the ring of buffers and start.
#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include "capture_handles.h"

namespace {

void describe_format(CaptureBlock* block) {
    WAVEFORMATEX& format = block->format;
    // Whole bytes per sample, truncated: 12 bits count as one byte. The products are taken
    // modulo 2^32, so hostile values wrap instead of overflowing a signed int.
    uint32_t bytesPerSample = static_cast<uint32_t>(block->bitsPerSample / 8);
    uint32_t channels = static_cast<uint32_t>(block->channels);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(block->channels);
    format.nSamplesPerSec = static_cast<DWORD>(block->sampleRate);
    format.nAvgBytesPerSec = bytesPerSample * channels * static_cast<uint32_t>(block->sampleRate);
    format.nBlockAlign = static_cast<WORD>(bytesPerSample * channels);
    format.wBitsPerSample = static_cast<WORD>(block->bitsPerSample);
    format.cbSize = 0;
}

// No whole byte in a frame, no channel (in the low 16 bits the device sees) or no samples per
// second: no PCM format at all. Wine's format converter divides by the frame size and takes the
// process down on such a format, so it never reaches the device.
bool describes_frames(jint sampleRate, jint channels, jint bitsPerSample) {
    uint32_t frameBytes = static_cast<uint32_t>(bitsPerSample / 8) * static_cast<uint32_t>(channels);
    return sampleRate > 0 && static_cast<WORD>(channels) != 0 && static_cast<WORD>(frameBytes) != 0;
}

// Asks first whether the device takes the format, so a refusal opens nothing.
bool open_device(CaptureBlock* block) {
    block->lastResult = waveInOpen(nullptr, WAVE_MAPPER, &block->format, 0, 0, WAVE_FORMAT_QUERY);
    if (block->lastResult != MMSYSERR_NOERROR) return false;
    block->lastResult = waveInOpen(&block->waveIn, WAVE_MAPPER, &block->format,
                                   reinterpret_cast<DWORD_PTR>(block->bufferEvent), 0, CALLBACK_EVENT);
    if (block->lastResult != MMSYSERR_NOERROR) return false;
    // The event resets itself as this takes the notice; a reset instead could wipe another
    // capture's notice.
    take_device_notice(block);
    return true;
}

bool queue_buffers(CaptureBlock* block) {
    for (int32_t i = 0; i < block->bufferCount; ++i) {
        block->buffers[i] = static_cast<LPSTR>(GlobalAlloc(GMEM_ZEROINIT, static_cast<SIZE_T>(block->bufferSize)));
        if (!block->buffers[i]) return false;
        WAVEHDR& header = block->headers[i];
        header.lpData = block->buffers[i];
        header.dwBufferLength = static_cast<DWORD>(block->bufferSize);
        header.dwFlags = 0;
        header.dwLoops = 0;
        block->lastResult = waveInPrepareHeader(block->waveIn, &header, sizeof(WAVEHDR));
        if (block->lastResult != MMSYSERR_NOERROR) return false;
        block->lastResult = waveInAddBuffer(block->waveIn, &header, sizeof(WAVEHDR));
        if (block->lastResult != MMSYSERR_NOERROR) return false;
    }
    return true;
}

bool start(CaptureBlock* block) {
    block->lastResult = waveInStart(block->waveIn);
    return block->lastResult == MMSYSERR_NOERROR;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(
    JNIEnv*, jclass, jint sampleRate, jint channels, jint bitsPerSample, jint bufferSize, jint bufferCount) {
    // A ring larger than the block holds, or buffers with no room, cannot be recorded into.
    if (bufferCount > kMaxBuffers || (bufferCount > 0 && bufferSize < 1)) return 0;
    if (!describes_frames(sampleRate, channels, bitsPerSample)) return 0;

    CaptureBlock* block = new_capture_block();
    if (!block) return 0;
    block->uses = 1;
    block->sampleRate = sampleRate;
    block->channels = channels;
    block->bitsPerSample = bitsPerSample;
    block->bufferSize = bufferSize;
    block->bufferCount = bufferCount;
    describe_format(block);
    block->bufferEvent = CreateEventA(nullptr, FALSE, FALSE, kBufferEventName);
    block->closing = 0;

    if (!block->bufferEvent || !open_device(block) || !queue_buffers(block) || !start(block) ||
        !publish_capture(block)) {
        // Java gets no handle to a failed capture, so nothing it acquired may outlive this call.
        shut_device(block);
        discard_capture_block(block);
        return 0;
    }
    return handle_of(block);
}

}  // extern "C"
