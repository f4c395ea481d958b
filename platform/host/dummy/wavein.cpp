// The simulated microphone behind waveIn*: one default recording device (WAVE_MAPPER) that
// can be opened any number of times. A single hardware thread records into queued buffers in
// real time, in queue order, and reports through the callback event as winmm does: once on
// open, once for every buffer it returns, once on close.
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "machine.h"

namespace {

using Clock = std::chrono::steady_clock;

// Header flags are shared with the thread that reads the buffers: the bytes and the byte
// count are published by the store that sets WHDR_DONE.
std::atomic_ref<DWORD> flags_of(WAVEHDR* header) { return std::atomic_ref<DWORD>(header->dwFlags); }

struct Device {
    WAVEFORMATEX format;
    HANDLE event;
    bool started = false;
    std::deque<WAVEHDR*> queue;
    uint64_t written = 0;      // stream bytes handed out in buffers so far
    uint64_t head_start = 0;   // stream position where the head buffer's recording begins
    Clock::time_point started_at;
    uint64_t position_at_start = 0;

    // Stream position the microphone has reached by the clock: it moves only while recording.
    // Audio that arrives while no buffer is queued is lost, as on a real device.
    uint64_t position(Clock::time_point now) const {
        if (!started) return position_at_start;
        auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - started_at).count();
        return position_at_start + static_cast<uint64_t>(elapsed) * format.nAvgBytesPerSec / 1000000000u;
    }

    Clock::time_point time_of(uint64_t position) const {
        uint64_t ns = (position - position_at_start) * 1000000000u / format.nAvgBytesPerSec;
        return started_at + std::chrono::nanoseconds(ns);
    }
};

struct Microphone {
    std::mutex lock;
    std::condition_variable wake;
    std::map<uintptr_t, std::unique_ptr<Device>> devices;
    uintptr_t next_id = 0x1000;
    std::multimap<Clock::time_point, HANDLE> late_notifications;

    bool manual = false;
    bool refuse_formats = false;
    bool lose_close = false;
    DWORD delay_ms = 0;
    int prepared = 0;
    int add_calls = 0;
    WAVEFORMATEX last_format{};

    bool quitting = false;
    std::thread hardware;

    ~Microphone() {
        if (!hardware.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock);
            quitting = true;
        }
        wake.notify_all();
        hardware.join();
    }

    Device* device(HWAVEIN handle) {
        auto found = devices.find(reinterpret_cast<uintptr_t>(handle));
        return found == devices.end() ? nullptr : found->second.get();
    }

    void notify(HANDLE event) {
        if (delay_ms == 0) {
            SetEvent(event);
            return;
        }
        late_notifications.emplace(Clock::now() + std::chrono::milliseconds(delay_ms), event);
        wake.notify_all();
    }

    // Records `bytes` of the signal into the head buffer and returns it to the application.
    void return_head(Device& dev, uint64_t bytes) {
        WAVEHDR* header = dev.queue.front();
        dev.queue.pop_front();
        auto* data = reinterpret_cast<uint8_t*>(header->lpData);
        dummy::record_signal(data, dev.head_start, bytes);
        header->dwBytesRecorded = static_cast<DWORD>(bytes);
        flags_of(header).fetch_and(~WHDR_INQUEUE, std::memory_order_relaxed);
        flags_of(header).fetch_or(WHDR_DONE, std::memory_order_release);
        dev.written = dev.head_start + bytes;
        dev.head_start = dev.written;
        notify(dev.event);
    }

    // Returns the head buffer with what it holds so far, as stop and reset do.
    void return_partial_head(Device& dev, Clock::time_point now) {
        uint64_t reached = manual ? dev.head_start : dev.position(now);
        uint64_t recorded = reached > dev.head_start ? reached - dev.head_start : 0;
        return_head(dev, std::min<uint64_t>(recorded, dev.queue.front()->dwBufferLength));
    }

    // Where recording into a buffer that has just reached the head of the queue begins.
    void begin_head(Device& dev, Clock::time_point now) {
        dev.head_start = manual ? dev.written : std::max(dev.written, dev.position(now));
    }

    // Stop: recording ends; the buffer being filled comes back with what it holds.
    void stop(Device& dev) {
        Clock::time_point now = Clock::now();
        if (!dev.queue.empty() && dev.started) return_partial_head(dev, now);
        dev.position_at_start = dev.position(now);
        dev.started = false;
    }

    void start_hardware() {
        if (!hardware.joinable()) hardware = std::thread([this] { run(); });
    }

    void run() {
        std::unique_lock<std::mutex> hold(lock);
        while (!quitting) {
            Clock::time_point now = Clock::now();
            Clock::time_point next = Clock::time_point::max();
            while (!late_notifications.empty() && late_notifications.begin()->first <= now) {
                SetEvent(late_notifications.begin()->second);
                late_notifications.erase(late_notifications.begin());
            }
            if (!late_notifications.empty()) next = late_notifications.begin()->first;
            for (auto& [id, dev] : devices) {
                if (manual || !dev->started) continue;
                while (!dev->queue.empty()) {
                    uint64_t end = dev->head_start + dev->queue.front()->dwBufferLength;
                    if (dev->position(now) < end) {
                        next = std::min(next, dev->time_of(end));
                        break;
                    }
                    return_head(*dev, dev->queue.front()->dwBufferLength);
                }
            }
            if (next == Clock::time_point::max())
                wake.wait(hold);
            else
                wake.wait_until(hold, next);
        }
    }
};

Microphone& microphone() {
    static Microphone instance;
    return instance;
}

bool acceptable(const WAVEFORMATEX& f) {
    bool sample_width = f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 24 ||
                        f.wBitsPerSample == 32;
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 8 && sample_width &&
           f.nSamplesPerSec >= 1 && f.nSamplesPerSec <= 384000 &&
           f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

bool valid_header(LPWAVEHDR header, UINT size) { return header && size == sizeof(WAVEHDR) && header->lpData; }

}  // namespace

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                           DWORD flags) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    bool query = flags & WAVE_FORMAT_QUERY;
    if (format) mic.last_format = *format;
    uint32_t code = 0;
    if (dummy::take_failure(query ? dummy::Call::WaveInQuery : dummy::Call::WaveInOpen, &code)) return code;
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    if (!format) return MMSYSERR_INVALPARAM;
    if (mic.refuse_formats || !acceptable(*format)) return WAVERR_BADFORMAT;
    if (query) return MMSYSERR_NOERROR;
    if (!handle) return MMSYSERR_INVALPARAM;
    if ((flags & ~WAVE_FORMAT_QUERY) != CALLBACK_EVENT) return MMSYSERR_INVALFLAG;

    auto dev = std::make_unique<Device>();
    dev->format = *format;
    dev->event = reinterpret_cast<HANDLE>(callback);
    uintptr_t id = mic.next_id;
    mic.next_id += 4;
    mic.notify(dev->event);
    mic.devices[id] = std::move(dev);
    mic.start_hardware();
    *handle = reinterpret_cast<HWAVEIN>(id);
    return MMSYSERR_NOERROR;
}

// Every device call as winmm makes it: a scripted failure first, then the handle, then the
// call's own work on the device, all under the microphone's lock.
template <typename Work>
MMRESULT device_call(dummy::Call call, HWAVEIN handle, Work work) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    uint32_t code = 0;
    if (dummy::take_failure(call, &code)) return code;
    Device* dev = mic.device(handle);
    if (!dev) return MMSYSERR_INVALHANDLE;
    return work(mic, *dev);
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(dummy::Call::WaveInPrepare, handle, [&](Microphone& mic, Device&) -> MMRESULT {
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        if (!(flags_of(header).fetch_or(WHDR_PREPARED) & WHDR_PREPARED)) ++mic.prepared;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(dummy::Call::WaveInUnprepare, handle, [&](Microphone& mic, Device&) -> MMRESULT {
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        if (flags_of(header).load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        if (flags_of(header).fetch_and(~WHDR_PREPARED) & WHDR_PREPARED) --mic.prepared;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(dummy::Call::WaveInAddBuffer, handle, [&](Microphone& mic, Device& dev) -> MMRESULT {
        ++mic.add_calls;
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        DWORD flags = flags_of(header).load();
        if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        header->dwBytesRecorded = 0;
        flags_of(header).store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
        dev.queue.push_back(header);
        // Only a new head buffer of a running device changes when the hardware thread must
        // next record.
        if (dev.queue.size() == 1) {
            mic.begin_head(dev, Clock::now());
            if (dev.started && !mic.manual) mic.wake.notify_all();
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    return device_call(dummy::Call::WaveInStart, handle, [](Microphone& mic, Device& dev) -> MMRESULT {
        if (dev.started) return MMSYSERR_NOERROR;
        dev.started = true;
        dev.started_at = Clock::now();
        if (!dev.queue.empty()) mic.begin_head(dev, dev.started_at);
        mic.wake.notify_all();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInStop(HWAVEIN handle) {
    return device_call(dummy::Call::WaveInStop, handle, [](Microphone& mic, Device& dev) -> MMRESULT {
        mic.stop(dev);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    return device_call(dummy::Call::WaveInReset, handle, [](Microphone& mic, Device& dev) -> MMRESULT {
        mic.stop(dev);
        while (!dev.queue.empty()) mic.return_head(dev, 0);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) {
    return device_call(dummy::Call::WaveInClose, handle, [&](Microphone& mic, Device& dev) -> MMRESULT {
        if (!dev.queue.empty()) return WAVERR_STILLPLAYING;
        if (!mic.lose_close) mic.notify(dev.event);
        mic.devices.erase(reinterpret_cast<uintptr_t>(handle));
        return MMSYSERR_NOERROR;
    });
}

namespace dummy {

uint8_t signal_byte(uint64_t position) {
    uint32_t word = static_cast<uint32_t>(position / 4);
    return static_cast<uint8_t>(word >> (8 * (position % 4)));
}

// A device writes a buffer at the speed of a memory copy, so whole words go at once: a slow
// writer would leave the caches, and with them every measured read of the buffer, unlike
// a real device's.
void record_signal(uint8_t* data, uint64_t position, size_t bytes) {
    static_assert(std::endian::native == std::endian::little);
    size_t i = 0;
    for (; i < bytes && (position + i) % 4 != 0; ++i) data[i] = signal_byte(position + i);
    for (uint32_t word = static_cast<uint32_t>((position + i) / 4); i + 4 <= bytes; i += 4, ++word)
        std::memcpy(data + i, &word, 4);
    for (; i < bytes; ++i) data[i] = signal_byte(position + i);
}

void mic_manual(bool manual) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    mic.manual = manual;
    mic.wake.notify_all();
}

bool mic_complete(DWORD bytes) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    for (auto it = mic.devices.rbegin(); it != mic.devices.rend(); ++it) {
        Device& dev = *it->second;
        if (!dev.started || dev.queue.empty()) continue;
        mic.return_head(dev, std::min<DWORD>(bytes, dev.queue.front()->dwBufferLength));
        return true;
    }
    return false;
}

void mic_refuse_formats(bool refuse) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    mic.refuse_formats = refuse;
}

void mic_lose_close_notification(bool lose) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    mic.lose_close = lose;
}

void mic_delay_notifications(DWORD milliseconds) {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    mic.delay_ms = milliseconds;
}

MicState mic_state() {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    MicState state{};
    state.devices = static_cast<int>(mic.devices.size());
    state.preparedHeaders = mic.prepared;
    for (auto& [id, dev] : mic.devices) state.queuedBuffers += static_cast<int>(dev->queue.size());
    state.addBufferCalls = mic.add_calls;
    state.lastFormat = mic.last_format;
    return state;
}

void reset_microphone() {
    Microphone& mic = microphone();
    std::lock_guard<std::mutex> hold(mic.lock);
    mic.manual = false;
    mic.refuse_formats = false;
    mic.lose_close = false;
    mic.delay_ms = 0;
    mic.add_calls = 0;
    mic.last_format = WAVEFORMATEX{};
    mic.wake.notify_all();
}

}  // namespace dummy
