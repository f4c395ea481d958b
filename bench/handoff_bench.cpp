// ngetBuffer when the device has every buffer of the ring ready, against a bare memcpy of the
// same bytes out of as many buffers, and against that memcpy plus the device's re-queue of the
// buffer (the one device call every hand-over makes). Reported per call, as the median of five
// runs (a wake of the stand-in's device thread can land in any batch); the ring is refilled
// between batches, outside the timed part.
#include <benchmark/benchmark.h>

#include <com_velk_orvanta_content_client_audio_Voxcap.h>
#include <control.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bare_jni.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRing = 16;
constexpr int kBatches = 300;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void ngetBufferAllReady(benchmark::State& state) {
    const jint size = static_cast<jint>(state.range(0));
    dummy::reset();
    dummy::mic_manual(true);
    BareJni vm;
    std::vector<jbyte> dest(static_cast<size_t>(size));
    const jint handle = Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm.env(), nullptr, 8000, 1, 16, size,
                                                                                kRing);
    if (!handle) return state.SkipWithError("nopen failed");
    const int allocations = dummy::kernel_state().allocations;
    for (auto _ : state) {
        for (int i = 0; i < kRing; ++i) dummy::mic_complete();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kRing; ++i)
            if (Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm.env(), nullptr, handle,
                                                                             vm.array(dest), 0, size) != 0)
                return state.SkipWithError("ngetBuffer failed");
        state.SetIterationTime(seconds(Clock::now() - start) / kRing);
    }
    state.counters["allocations"] = dummy::kernel_state().allocations - allocations;
    state.SetBytesProcessed(state.iterations() * size);
    Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
}

// The baseline: the same bytes, out of as many freshly recorded buffers from the same heap
// (whole pages, as the capture's buffers are), into one array.
void memcpyBaseline(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<char*> ring(kRing);
    for (char*& buffer : ring) buffer = static_cast<char*>(GlobalAlloc(GMEM_ZEROINIT, size));
    std::vector<char> dest(size);
    uint64_t position = 0;
    for (auto _ : state) {
        // Written as the stand-in's device writes them, so they are as fresh in the caches.
        for (char* buffer : ring) {
            dummy::record_signal(reinterpret_cast<uint8_t*>(buffer), position, size);
            position += size;
        }
        const Clock::time_point start = Clock::now();
        for (char* buffer : ring) {
            std::memcpy(dest.data(), buffer, size);
            benchmark::ClobberMemory();
        }
        state.SetIterationTime(seconds(Clock::now() - start) / kRing);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    for (char* buffer : ring) GlobalFree(buffer);
}

// The second baseline: the same copies, each followed by giving the buffer back to the device
// directly. What ngetBuffer costs beyond this is the library's own.
void memcpyAndRequeueBaseline(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    dummy::reset();
    dummy::mic_manual(true);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 16000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    HWAVEIN device = nullptr;
    if (waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT) != 0)
        return state.SkipWithError("waveInOpen failed");
    std::vector<std::vector<char>> ring(kRing, std::vector<char>(size));
    std::vector<WAVEHDR> headers(kRing);
    for (int i = 0; i < kRing; ++i) {
        headers[i].lpData = ring[i].data();
        headers[i].dwBufferLength = static_cast<DWORD>(size);
        waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR));
    }
    waveInStart(device);
    std::vector<char> dest(size);
    for (auto _ : state) {
        for (int i = 0; i < kRing; ++i) dummy::mic_complete();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kRing; ++i) {
            std::memcpy(dest.data(), ring[i].data(), size);
            benchmark::ClobberMemory();
            headers[i].dwFlags &= ~WHDR_DONE;
            waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR));
        }
        state.SetIterationTime(seconds(Clock::now() - start) / kRing);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    waveInReset(device);
    for (WAVEHDR& header : headers) waveInUnprepareHeader(device, &header, sizeof(WAVEHDR));
    waveInClose(device);
    CloseHandle(event);
}

void ringSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1 << 10)->Arg(16 << 10)->Arg(64 << 10)->Iterations(kBatches)->Repetitions(5)->ReportAggregatesOnly(true);
    b->UseManualTime();
}

BENCHMARK(ngetBufferAllReady)->Apply(ringSizes);
BENCHMARK(memcpyBaseline)->Apply(ringSizes);
BENCHMARK(memcpyAndRequeueBaseline)->Apply(ringSizes);

}  // namespace
