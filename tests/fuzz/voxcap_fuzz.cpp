// Drives nopen, ngetBuffer and nclose in any order the Java side may use them (never a dead
// handle, one thread), with hostile formats, sizes, offsets and lengths and injected device
// failures. The microphone runs in manual mode, so every run is deterministic. A model of each
// capture's ring says when a read would block (only reads that must return are made) and what
// each read must hand over.
#include <com_velk_orvanta_content_client_audio_Voxcap.h>

#include <control.h>
#include <fake_jni.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "fuzz_input.h"

namespace {

constexpr size_t kMaxCaptures = 4;
constexpr int kMaxSteps = 64;
constexpr jbyte kFill = 0x5A;

struct Capture {
    jint handle;
    jint bufferSize;
    int queued;                    // buffers in the device's queue
    std::deque<DWORD> done;        // bytes recorded in each done buffer, in ring order
    uint64_t position = 0;         // stream position of the next byte handed over
    bool stuck = false;            // a re-queue failed: the ring's next buffer never comes back
};

jint pickSize(FuzzedDataProvider& input) {
    static constexpr jint sizes[] = {-1, 0, 1, 3, 64, 1000, 4096, 1 << 20, INT32_MAX, INT32_MIN};
    return input.PickValueInArray(sizes);
}

class Session {
public:
    explicit Session(FuzzedDataProvider& input) : input_(input) {}

    // Returns whether a scripted failure may still be armed.
    bool run() {
        for (int step = 0; step < kMaxSteps && input_.remaining_bytes() > 0; ++step) {
            switch (input_.ConsumeIntegralInRange(0, 5)) {
            case 0: open(); break;
            case 1: complete(); break;
            case 2: read(); break;
            case 3: close(); break;
            case 4: injectFailure(); break;
            case 5: dummy::mic_refuse_formats(input_.ConsumeBool()); break;
            }
        }
        while (!live_.empty()) closeAt(0);
        FUZZ_REQUIRE(vm_.violations() == 0, vm_.firstViolation());
        return failureScripted_;
    }

private:
    void open() {
        static constexpr jint rates[] = {8000, 44100, 0, -1, INT32_MAX};
        static constexpr jint channels[] = {1, 2, 0, -1, 65537};
        static constexpr jint bits[] = {8, 12, 16, 24, 32, 0, -8, 1 << 20};
        jint rate = input_.PickValueInArray(rates);
        jint channelCount = input_.PickValueInArray(channels);
        jint bitsPerSample = input_.PickValueInArray(bits);
        jint size = input_.ConsumeBool() ? input_.ConsumeIntegralInRange(1, 512) : pickSize(input_);
        jint count = input_.ConsumeBool() ? input_.ConsumeIntegralInRange(0, 8) : anyInt(input_, -2, 300);
        if (live_.size() == kMaxCaptures) return;
        jint handle = Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm_.env(), nullptr, rate, channelCount,
                                                                              bitsPerSample, size, count);
        if (handle) live_.push_back(Capture{handle, size, std::max<jint>(count, 0), {}});
    }

    // The simulated device fills the head buffer of the newest device with a queued buffer.
    void complete() {
        DWORD bytes = input_.ConsumeBool() ? 0xFFFFFFFFu : input_.ConsumeIntegralInRange<DWORD>(0, 5000);
        auto target = std::find_if(live_.rbegin(), live_.rend(), [](const Capture& c) { return c.queued > 0; });
        bool completed = dummy::mic_complete(bytes);
        FUZZ_REQUIRE(completed == (target != live_.rend()), "a device's queue is not what the captures queued");
        if (!completed) return;
        --target->queued;
        target->done.push_back(std::min<DWORD>(bytes, static_cast<DWORD>(target->bufferSize)));
    }

    void read() {
        size_t index = input_.ConsumeIntegralInRange<size_t>(0, live_.size());
        jsize arrayLength = input_.ConsumeIntegralInRange<jsize>(0, 8192);
        bool nullArray = input_.ConsumeIntegralInRange(0, 15) == 0;
        jint offset = anyInt(input_, -2, arrayLength + 2);
        jint length = anyInt(input_, -2, arrayLength + 2);
        Capture* capture = index < live_.size() ? &live_[index] : nullptr;
        jint handle = capture ? capture->handle : 0;
        jbyteArray dest = nullArray ? nullptr : vm_.newByteArray(arrayLength, kFill);

        bool refused = !capture || nullArray || offset < 0 || length < 0 || length > capture->bufferSize ||
                       int64_t{offset} + length > arrayLength;
        // A read whose next buffer is not done waits for close: one thread cannot make that call.
        if (!refused && (capture->done.empty() || capture->stuck)) return;

        jint result = Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm_.env(), nullptr, handle, dest,
                                                                                  offset, length);
        if (refused) {
            FUZZ_REQUIRE(result == 1, "a refused read did not return 1");
            if (dest) FUZZ_REQUIRE(untouched(dest, 0, arrayLength), "a refused read wrote into the array");
            return;
        }
        // Handed over; any result but 0 is the code of a re-queue that failed.
        DWORD recorded = capture->done.front();
        capture->done.pop_front();
        if (result == 0)
            ++capture->queued;
        else
            capture->stuck = true;
        FUZZ_REQUIRE(handedOver(dest, offset, length, recorded, capture->position), "wrong bytes handed over");
        FUZZ_REQUIRE(untouched(dest, 0, offset) && untouched(dest, offset + length, arrayLength),
                     "bytes written outside offset..offset+length");
        capture->position += recorded;
    }

    void close() {
        if (!live_.empty()) closeAt(input_.ConsumeIntegralInRange<size_t>(0, live_.size() - 1));
    }

    void closeAt(size_t index) {
        Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm_.env(), nullptr, live_[index].handle);
        live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(index));
    }

    // Failures open must survive, and a re-queue that fails. Stop, reset and close are left
    // alone: their failure leaves buffers with the device that close then frees.
    void injectFailure() {
        static constexpr dummy::Call calls[] = {dummy::Call::GlobalAlloc,   dummy::Call::CreateEvent,
                                                dummy::Call::WaveInQuery,   dummy::Call::WaveInOpen,
                                                dummy::Call::WaveInPrepare, dummy::Call::WaveInAddBuffer,
                                                dummy::Call::WaveInStart};
        static constexpr uint32_t codes[] = {MMSYSERR_ERROR, MMSYSERR_NOMEM, WAVERR_BADFORMAT, MMSYSERR_BADDEVICEID};
        dummy::Call call = input_.PickValueInArray(calls);
        uint32_t code = input_.PickValueInArray(codes);
        dummy::fail(call, code, input_.ConsumeIntegralInRange(0, 8));
        failureScripted_ = true;
    }

    bool untouched(jbyteArray dest, jint from, jint to) {
        const jbyte* bytes = vm_.bytes(dest);
        return std::all_of(bytes + from, bytes + to, [](jbyte b) { return b == kFill; });
    }

    // What was recorded, from the stream position on, then zeros to the end of the request.
    bool handedOver(jbyteArray dest, jint offset, jint length, DWORD recorded, uint64_t position) {
        const jbyte* bytes = vm_.bytes(dest) + offset;
        for (jint i = 0; i < length; ++i) {
            uint8_t expected = static_cast<DWORD>(i) < recorded ? dummy::signal_byte(position + i) : 0;
            if (static_cast<uint8_t>(bytes[i]) != expected) return false;
        }
        return true;
    }

    FuzzedDataProvider& input_;
    FakeJni vm_;
    bool failureScripted_ = false;
    std::vector<Capture> live_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dummy::mic_manual(true);
    dummy::mic_refuse_formats(false);
    const dummy::KernelState before = dummy::kernel_state();
    FuzzedDataProvider input(data, size);
    // A failure that never fired must not reach the next input. (Reset repaints the whole
    // virtual screen as well: too slow for every input.)
    if (Session(input).run()) dummy::reset();
    const dummy::KernelState after = dummy::kernel_state();
    const dummy::MicState mic = dummy::mic_state();
    FUZZ_REQUIRE(after.handles == before.handles, "kernel handle leaked");
    FUZZ_REQUIRE(after.allocations == before.allocations, "global memory leaked");
    FUZZ_REQUIRE(mic.devices == 0, "device left open");
    FUZZ_REQUIRE(mic.preparedHeaders == 0, "header left prepared");
    return 0;
}
