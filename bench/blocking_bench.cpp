// Latencies around a reader blocked in ngetBuffer, on the simulated machine:
// - wake-up: from the device marking a buffer done to ngetBuffer returning, against a bare
//   event hand-over between two threads (SetEvent to WaitForSingleObject returning);
// - close: from nclose being called to both it and the blocked reader having returned,
//   against nclose with no reader.
// Each runs many samples once and reports the median and the 99th percentile or the maximum.
#include <benchmark/benchmark.h>

#include <com_velk_orvanta_content_client_audio_Voxcap.h>
#include <control.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "bare_jni.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr jint kBufferBytes = 64;
constexpr int kWakeSamples = 2000;
constexpr int kCloseSamples = 50;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(p * static_cast<double>(samples.size() - 1))];
}

void report(benchmark::State& state, const std::vector<double>& us, const char* high, double p) {
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters[high] = percentile(us, p);
}

jint openManual(BareJni& vm) {
    dummy::reset();
    dummy::mic_manual(true);
    return Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm.env(), nullptr, 8000, 1, 16, kBufferBytes, 4);
}

// Lets the other thread get into its wait before the clock starts.
void settle() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

// Times kWakeSamples wake-ups: a thread calls `wait` over and over; each time it is inside,
// `wake` is called and the clock runs until `wait` has returned.
template <typename Wait, typename Wake>
std::vector<double> wakeUpSamples(Wait wait, Wake wake) {
    std::vector<Clock::time_point> returned(kWakeSamples);
    std::atomic<int> entered{0}, done{0};
    std::thread waiter([&] {
        for (int i = 0; i < kWakeSamples; ++i) {
            entered.store(i + 1);
            wait();
            returned[i] = Clock::now();
            done.store(i + 1, std::memory_order_release);
        }
    });
    std::vector<double> us;
    for (int i = 0; i < kWakeSamples; ++i) {
        while (entered.load() <= i) std::this_thread::yield();
        settle();
        const Clock::time_point start = Clock::now();
        wake();
        while (done.load(std::memory_order_acquire) <= i) std::this_thread::yield();
        us.push_back(microseconds(returned[i] - start));
    }
    waiter.join();
    return us;
}

void wakeUpLatency(benchmark::State& state) {
    BareJni vm;
    std::vector<jbyte> dest(kBufferBytes);
    const jint handle = openManual(vm);
    if (!handle) return state.SkipWithError("nopen failed");
    for (auto _ : state) {
        auto read = [&] {
            Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm.env(), nullptr, handle, vm.array(dest), 0,
                                                                         kBufferBytes);
        };
        report(state, wakeUpSamples(read, [] { dummy::mic_complete(); }), "p99_us", 0.99);
    }
    Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
}

void eventWakeUpBaseline(benchmark::State& state) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (auto _ : state)
        report(state, wakeUpSamples([&] { WaitForSingleObject(event, INFINITE); }, [&] { SetEvent(event); }),
               "p99_us", 0.99);
    CloseHandle(event);
}

void closeWithBlockedReader(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<double> us;
        for (int i = 0; i < kCloseSamples; ++i) {
            BareJni vm;
            std::vector<jbyte> dest(kBufferBytes);
            const jint handle = openManual(vm);
            if (!handle) return state.SkipWithError("nopen failed");
            std::atomic<bool> entered{false};
            Clock::time_point readerOut;
            std::thread reader([&] {
                entered.store(true);
                Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(vm.env(), nullptr, handle,
                                                                             vm.array(dest), 0, kBufferBytes);
                readerOut = Clock::now();
            });
            while (!entered.load()) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const Clock::time_point start = Clock::now();
            Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
            const Clock::time_point closeOut = Clock::now();
            reader.join();
            us.push_back(microseconds(std::max(closeOut, readerOut) - start));
        }
        report(state, us, "max_us", 1.0);
    }
}

void closeWithoutReaderBaseline(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<double> us;
        for (int i = 0; i < kCloseSamples; ++i) {
            BareJni vm;
            const jint handle = openManual(vm);
            if (!handle) return state.SkipWithError("nopen failed");
            const Clock::time_point start = Clock::now();
            Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
            us.push_back(microseconds(Clock::now() - start));
        }
        report(state, us, "max_us", 1.0);
    }
}

// Open and close of one capture, 30 rounds, while three others with 1 s buffers are being read
// (they share the event and take its notices), against the same with no other capture.
void openCloseRounds(benchmark::State& state, int busyCaptures) {
    constexpr jint kLongBuffer = 16000;
    for (auto _ : state) {
        dummy::reset();
        BareJni vm;
        std::vector<jint> busy;
        std::vector<std::vector<jbyte>> arrays(static_cast<size_t>(busyCaptures), std::vector<jbyte>(kLongBuffer));
        for (int i = 0; i < busyCaptures; ++i)
            busy.push_back(Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm.env(), nullptr, 8000, 1, 16,
                                                                                  kLongBuffer, 2));
        std::vector<std::thread> readers;
        for (int i = 0; i < busyCaptures; ++i)
            readers.emplace_back([&, i] {
                while (Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer(
                           vm.env(), nullptr, busy[i], vm.array(arrays[i]), 0, kLongBuffer) == 0) {
                }
            });
        std::vector<double> opens, closes;
        for (int round = 0; round < 30; ++round) {
            Clock::time_point start = Clock::now();
            jint handle = Java_com_velk_orvanta_content_client_audio_Voxcap_nopen(vm.env(), nullptr, 8000, 1, 16, 256, 4);
            Clock::time_point opened = Clock::now();
            Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
            closes.push_back(microseconds(Clock::now() - opened));
            opens.push_back(microseconds(opened - start));
        }
        for (jint handle : busy) Java_com_velk_orvanta_content_client_audio_Voxcap_nclose(vm.env(), nullptr, handle);
        for (std::thread& reader : readers) reader.join();
        state.counters["open_max_us"] = percentile(opens, 1.0);
        state.counters["close_max_us"] = percentile(closes, 1.0);
        state.counters["open_median_us"] = percentile(opens, 0.5);
        state.counters["close_median_us"] = percentile(closes, 0.5);
    }
}

void openCloseBesideThreeBusyCaptures(benchmark::State& state) { openCloseRounds(state, 3); }
void openCloseAloneBaseline(benchmark::State& state) { openCloseRounds(state, 0); }

BENCHMARK(openCloseBesideThreeBusyCaptures)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(openCloseAloneBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(wakeUpLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(eventWakeUpBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeWithBlockedReader)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeWithoutReaderBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
