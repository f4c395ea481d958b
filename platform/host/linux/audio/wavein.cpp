// Waveform-audio input over PulseAudio. WAVE_MAPPER is the server's default source; every open
// device is a record stream on the process's one connection, whose loop lock guards the device.
// The loop thread fills the queued buffers in queue order and reports through the callback event
// as winmm does: once on open, once per returned buffer, once on close.
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "pulse_connection.h"

namespace {

// A missing server refuses at once and a missing source within milliseconds; this bounds a
// server that accepts the connection and then never answers. A stream is ready once the session
// manager has linked it, which on a busy machine's PipeWire took over half a second.
constexpr pa_usec_t kConnectDeadlineUs = 3000000;

// Header flags are shared with the thread that reads the buffers: the bytes and the byte count
// are published by the store that sets WHDR_DONE.
std::atomic_ref<DWORD> flags_of(WAVEHDR* header) { return std::atomic_ref<DWORD>(header->dwFlags); }

// The server hands data over once a fragment has gathered; a stopped device gives back what
// arrived, so a fragment is at most this share of a second, whatever the buffers' size.
constexpr DWORD kFragmentsPerSecond = 10;

struct Device {
    Device(pulse::Connection& shared, HANDLE notice, DWORD bytes_per_second)
        : connection(shared), pa(shared.pa), event(notice), longest_fragment(bytes_per_second / kFragmentsPerSecond) {}

    pulse::Connection& connection;
    const pulse::Api& pa;
    HANDLE event;
    DWORD longest_fragment;
    pa_stream* stream = nullptr;
    bool started = false;
    bool gone = false;  // the server or the source went away: nothing more will be recorded
    std::deque<WAVEHDR*> queue;
    DWORD filled = 0;  // bytes recorded into the head buffer so far
};

void return_head(Device& dev) {
    WAVEHDR* header = dev.queue.front();
    dev.queue.pop_front();
    header->dwBytesRecorded = dev.filled;
    dev.filled = 0;
    flags_of(header).fetch_and(~WHDR_INQUEUE, std::memory_order_relaxed);
    flags_of(header).fetch_or(WHDR_DONE, std::memory_order_release);
    SetEvent(dev.event);
}

void return_all(Device& dev) {
    while (!dev.queue.empty()) return_head(dev);
}

// Null data is a hole in the stream: silence of that length. What arrives while the device is
// stopped or has no buffer is lost, as on a sound card.
void record(Device& dev, const void* data, size_t bytes) {
    const auto* from = static_cast<const char*>(data);
    while (bytes > 0 && dev.started && !dev.queue.empty()) {
        WAVEHDR* header = dev.queue.front();
        size_t take = std::min<size_t>(bytes, header->dwBufferLength - dev.filled);
        if (from) {
            std::memcpy(header->lpData + dev.filled, from, take);
            from += take;
        } else {
            std::memset(header->lpData + dev.filled, 0, take);
        }
        dev.filled += static_cast<DWORD>(take);
        bytes -= take;
        if (dev.filled == header->dwBufferLength) return_head(dev);
    }
}

void on_readable(pa_stream* stream, size_t, void* userdata) {
    Device& dev = *static_cast<Device*>(userdata);
    const void* data = nullptr;
    size_t bytes = 0;
    while (dev.pa.stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        record(dev, data, bytes);
        dev.pa.stream_drop(stream);
    }
}

// The server went away: the buffers come back with what they hold, so no reader waits in vain.
void lose(Device& dev) {
    dev.gone = true;
    dev.started = false;
    return_all(dev);
}

void on_stream_state(pa_stream* stream, void* userdata) {
    Device& dev = *static_cast<Device*>(userdata);
    if (!PA_STREAM_IS_GOOD(dev.pa.stream_get_state(stream))) lose(dev);
    dev.connection.wake();
}

pa_buffer_attr fragments_of(uint32_t bytes) {
    uint32_t server_default = static_cast<uint32_t>(-1);
    return pa_buffer_attr{server_default, server_default, server_default, server_default, bytes};
}

// Connects a corked record stream from the default source; the fragment size follows the
// buffers once they are known (at start). The loop must be locked.
bool connect(Device& dev, const pa_sample_spec& spec, const pa_channel_map& map) {
    dev.stream = dev.pa.stream_new(dev.connection.context(), "waveIn", &spec, &map);
    if (!dev.stream) return false;
    dev.pa.stream_set_state_callback(dev.stream, on_stream_state, &dev);
    dev.pa.stream_set_read_callback(dev.stream, on_readable, &dev);
    pa_buffer_attr attr = fragments_of(dev.longest_fragment);
    if (dev.pa.stream_connect_record(dev.stream, nullptr, &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                    PA_STREAM_START_CORKED)) < 0)
        return false;
    return dev.connection.wait(kConnectDeadlineUs, [&dev]() -> std::optional<bool> {
        pa_stream_state_t state = dev.pa.stream_get_state(dev.stream);
        if (!PA_STREAM_IS_GOOD(state)) return false;
        if (state == PA_STREAM_READY) return true;
        return std::nullopt;
    });
}

// Leaves the connection to the other devices on it, and closes it after the last one.
void disconnect(Device& dev) {
    dev.connection.lock();
    if (dev.stream) {
        dev.pa.stream_set_state_callback(dev.stream, nullptr, nullptr);
        dev.pa.stream_set_read_callback(dev.stream, nullptr, nullptr);
        dev.pa.stream_disconnect(dev.stream);
        dev.pa.stream_unref(dev.stream);
    }
    dev.connection.unlock();
    dev.connection.release();
}

// An operation the device needs no answer to; null when the connection is gone.
bool send(Device& dev, pa_operation* operation) {
    if (!operation) return false;
    dev.pa.operation_unref(operation);
    return true;
}

void stop(Device& dev) {
    if (!dev.started) return;
    dev.started = false;
    send(dev, dev.pa.stream_cork(dev.stream, 1, nullptr, nullptr));
    if (!dev.queue.empty()) return_head(dev);
}

// The PCM formats the server records: 8-bit unsigned, 16-, 24- and 32-bit signed little-endian,
// at the channel counts and rates it takes.
bool sample_spec_of(const WAVEFORMATEX& f, const pulse::Api& pa, pa_sample_spec* spec) {
    switch (f.wBitsPerSample) {
    case 8: spec->format = PA_SAMPLE_U8; break;
    case 16: spec->format = PA_SAMPLE_S16LE; break;
    case 24: spec->format = PA_SAMPLE_S24LE; break;
    case 32: spec->format = PA_SAMPLE_S32LE; break;
    default: return false;
    }
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels < 1 || f.nChannels > PA_CHANNELS_MAX ||
        f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8 || f.nAvgBytesPerSec != f.nSamplesPerSec * f.nBlockAlign)
        return false;
    spec->channels = static_cast<uint8_t>(f.nChannels);
    spec->rate = f.nSamplesPerSec;
    return pa.sample_spec_valid(spec);
}

bool valid_header(LPWAVEHDR header, UINT size) { return header && size == sizeof(WAVEHDR) && header->lpData; }

struct Devices {
    std::mutex lock;
    std::map<uintptr_t, std::unique_ptr<Device>> open;
    uintptr_t next_id = 0x1000;  // never reused, so a stale handle fails instead of aliasing
};

Devices& devices() {
    static Devices instance;
    return instance;
}

// Every device call: the handle, then the call's own work with the device's loop locked.
template <typename Work>
MMRESULT device_call(HWAVEIN handle, Work work) {
    Devices& all = devices();
    std::lock_guard<std::mutex> hold(all.lock);
    auto found = all.open.find(reinterpret_cast<uintptr_t>(handle));
    if (found == all.open.end()) return MMSYSERR_INVALHANDLE;
    Device& dev = *found->second;
    dev.connection.lock();
    MMRESULT result = work(dev);
    dev.connection.unlock();
    return result;
}

}  // namespace

// No libpulse gives MMSYSERR_NODRIVER; no server, or no source, MMSYSERR_BADDEVICEID, as winmm
// answers on a machine without a recording device.
MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                           DWORD flags) {
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    if (!format) return MMSYSERR_INVALPARAM;
    const pulse::Api* pa = pulse::api();
    if (!pa) return MMSYSERR_NODRIVER;
    pa_sample_spec spec{};
    if (!sample_spec_of(*format, *pa, &spec)) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!handle) return MMSYSERR_INVALPARAM;
    if (flags != CALLBACK_EVENT) return MMSYSERR_INVALFLAG;

    pa_channel_map map;
    pa->channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
    pulse::Connection* connection = pulse::Connection::acquire(kConnectDeadlineUs);
    if (!connection) return MMSYSERR_BADDEVICEID;
    auto dev = std::make_unique<Device>(*connection, reinterpret_cast<HANDLE>(callback), format->nAvgBytesPerSec);
    connection->lock();
    bool ready = connect(*dev, spec, map);
    connection->unlock();
    if (!ready) {
        disconnect(*dev);
        return MMSYSERR_BADDEVICEID;
    }
    Devices& all = devices();
    std::lock_guard<std::mutex> hold(all.lock);
    uintptr_t id = all.next_id;
    all.next_id += 4;
    SetEvent(dev->event);
    all.open[id] = std::move(dev);
    *handle = reinterpret_cast<HWAVEIN>(id);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(handle, [&](Device&) -> MMRESULT {
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        flags_of(header).fetch_or(WHDR_PREPARED);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(handle, [&](Device&) -> MMRESULT {
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        if (flags_of(header).load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        flags_of(header).fetch_and(~WHDR_PREPARED);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return device_call(handle, [&](Device& dev) -> MMRESULT {
        if (!valid_header(header, size)) return MMSYSERR_INVALPARAM;
        DWORD flags = flags_of(header).load();
        if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        if (dev.gone) return MMSYSERR_NODRIVER;
        header->dwBytesRecorded = 0;
        flags_of(header).store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
        dev.queue.push_back(header);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    return device_call(handle, [](Device& dev) -> MMRESULT {
        if (dev.gone) return MMSYSERR_NODRIVER;
        if (dev.started) return MMSYSERR_NOERROR;
        // The server then hands data over about once per buffer, and at least ten times a second.
        if (!dev.queue.empty()) {
            pa_buffer_attr attr = fragments_of(std::min(dev.queue.front()->dwBufferLength, dev.longest_fragment));
            send(dev, dev.pa.stream_set_buffer_attr(dev.stream, &attr, nullptr, nullptr));
        }
        if (!send(dev, dev.pa.stream_cork(dev.stream, 0, nullptr, nullptr))) return MMSYSERR_NODRIVER;
        dev.started = true;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInStop(HWAVEIN handle) {
    return device_call(handle, [](Device& dev) -> MMRESULT {
        stop(dev);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    return device_call(handle, [](Device& dev) -> MMRESULT {
        stop(dev);
        return_all(dev);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) {
    std::unique_ptr<Device> closing;
    {
        Devices& all = devices();
        std::lock_guard<std::mutex> hold(all.lock);
        auto found = all.open.find(reinterpret_cast<uintptr_t>(handle));
        if (found == all.open.end()) return MMSYSERR_INVALHANDLE;
        Device& dev = *found->second;
        dev.connection.lock();
        bool queued = !dev.queue.empty();
        dev.connection.unlock();
        if (queued) return WAVERR_STILLPLAYING;
        closing = std::move(found->second);
        all.open.erase(found);
    }
    disconnect(*closing);
    SetEvent(closing->event);
    return MMSYSERR_NOERROR;
}
