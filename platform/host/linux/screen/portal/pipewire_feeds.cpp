#include "pipewire_feeds.h"

#include <spa/buffer/buffer.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include "chunk_rows.h"
#include "pipewire_library.h"
#include "screen/monitor_layout.h"
#include "screen/pixel_format.h"

namespace portal {

struct Feeds::Loop {
    const PipeWire& pw;
    pw_thread_loop* thread = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook core_listener{};
};

struct Feeds::Stream {
    Feeds* owner;
    Monitor at;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    host::PixelFormat format;  // of the negotiated video format
    int width = 0, height = 0;
    std::shared_ptr<const Frame> latest;
    std::shared_ptr<Frame> spare;  // the frame before, reused once no grab holds it
    bool streamed = false;
    std::atomic<DWORD> paused_since{0};  // when it paused after streaming, or 0

    void keep(const spa_buffer& buffer);
};

namespace {

const PipeWire& pw() { return *pipewire(); }

// Shared memory only: DMA-BUF frames would need a GPU to read them.
void ask_for_shared_memory(pw_stream* stream) {
    uint8_t room[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(room, sizeof room);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(&builder,
        SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
    pw().stream_update_params(stream, params, 1);
}

void on_param_changed(void* data, uint32_t id, const spa_pod* param) {
    auto* s = static_cast<Feeds::Stream*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    const bool blue_first = info.format == SPA_VIDEO_FORMAT_BGRx || info.format == SPA_VIDEO_FORMAT_BGRA;
    s->format = host::PixelFormat{32, 32, false, blue_first ? 0xFF0000u : 0xFFu, 0xFF00u, blue_first ? 0xFFu : 0xFF0000u};
    s->width = static_cast<int>(info.size.width);
    s->height = static_cast<int>(info.size.height);
    ask_for_shared_memory(s->stream);
}

void on_process(void* data) {
    auto* s = static_cast<Feeds::Stream*>(data);
    // Only the newest frame matters; the others go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* buffer = pw().stream_dequeue_buffer(s->stream)) {
        const spa_chunk* chunk = buffer->buffer->n_datas ? buffer->buffer->datas[0].chunk : nullptr;
        if (chunk && chunk->size && !(chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            if (newest) pw().stream_queue_buffer(s->stream, newest);
            newest = buffer;
        } else {
            pw().stream_queue_buffer(s->stream, buffer);
        }
    }
    if (!newest) return;
    s->keep(*newest->buffer);
    pw().stream_queue_buffer(s->stream, newest);
}

void on_state_changed(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto* s = static_cast<Feeds::Stream*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) s->owner->fail_from_loop();
    s->paused_since = state == PW_STREAM_STATE_PAUSED && s->streamed ? GetTickCount() | 1 : 0;
    s->streamed = s->streamed || state == PW_STREAM_STATE_STREAMING;
}

void on_core_error(void* data, uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) static_cast<Feeds*>(data)->fail_from_loop();
}

const pw_stream_events stream_events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = on_state_changed;
    events.param_changed = on_param_changed;
    events.process = on_process;
    return events;
}();

const pw_core_events core_events = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = on_core_error;
    return events;
}();

// Every format a screen cast may come in that reads as 32-bit pixels, at any size.
const spa_pod* video_formats(spa_pod_builder& builder, const Monitor& monitor) {
    spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(monitor.width > 0 ? monitor.width : 1280),
                                       static_cast<uint32_t>(monitor.height > 0 ? monitor.height : 720));
    spa_rectangle smallest = SPA_RECTANGLE(1, 1), largest = SPA_RECTANGLE(16384, 16384);
    spa_fraction rate = SPA_FRACTION(30, 1), slowest = SPA_FRACTION(0, 1), fastest = SPA_FRACTION(1000, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(&builder,
        SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
        SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                                        SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)));
}

}  // namespace

// Converts the buffer into a frame of our own (the buffer goes back to PipeWire at once), read
// only where the buffer really holds it: a chunk that claims more than the memory is dropped.
void Feeds::Stream::keep(const spa_buffer& buffer) {
    const spa_data& plane = buffer.datas[0];
    ChunkRows at;
    if (!plane.data || !format.supported() ||
        !chunk_rows(plane.chunk->offset, plane.chunk->stride, plane.maxsize, width, height, at))
        return;
    const size_t row_bytes = static_cast<size_t>(width) * 4;

    std::shared_ptr<Frame> frame = spare && spare.use_count() == 1 ? std::move(spare) : std::make_shared<Frame>();
    frame->width = width;
    frame->height = height;
    frame->pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    const auto* rows = static_cast<const uint8_t*>(plane.data) + at.offset;
    for (int row = 0; row < height; ++row)
        format.convert_row(rows + at.stride * static_cast<size_t>(row), width, frame->pixels.data() + row_bytes / 4 * row);

    bool first;
    {
        std::lock_guard<std::mutex> hold(owner->frames_lock);
        first = !latest;
        spare = std::const_pointer_cast<Frame>(std::move(latest));
        latest = std::move(frame);
    }
    if (first) SetEvent(owner->arrived);
}

std::unique_ptr<Feeds> Feeds::connect(int fd, const std::vector<Monitor>& monitors, HANDLE arrived) {
    const PipeWire* p = pipewire();
    if (!p) {
        close(fd);
        return nullptr;
    }
    std::unique_ptr<Feeds> feeds(new Feeds);
    feeds->arrived = arrived;
    feeds->loop.reset(new Loop{*p});
    Loop& l = *feeds->loop;
    l.thread = p->thread_loop_new("orvanta-screen", nullptr);
    if (!l.thread) {
        close(fd);
        return nullptr;
    }
    p->thread_loop_lock(l.thread);
    l.context = p->context_new(p->thread_loop_get_loop(l.thread), nullptr, 0);
    l.core = l.context ? p->context_connect_fd(l.context, fd, nullptr, 0) : nullptr;  // takes the fd
    if (!l.context) close(fd);
    bool connected = l.core != nullptr;
    if (connected) pw_core_add_listener(l.core, &l.core_listener, &core_events, feeds.get());
    for (const Monitor& monitor : monitors) {
        if (!connected) break;
        auto s = std::make_unique<Stream>();
        s->owner = feeds.get();
        s->at = monitor;
        s->stream = p->stream_new(l.core, "orvanta-screen",
            p->properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!s->stream) {
            connected = false;
            break;
        }
        p->stream_add_listener(s->stream, &s->listener, &stream_events, s.get());
        uint8_t room[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(room, sizeof room);
        const spa_pod* params[] = {video_formats(builder, monitor)};
        connected = p->stream_connect(s->stream, PW_DIRECTION_INPUT, monitor.node,
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                                      params, 1) == 0;
        feeds->streams.push_back(std::move(s));
    }
    p->thread_loop_unlock(l.thread);
    if (!connected || p->thread_loop_start(l.thread) != 0) return nullptr;
    return feeds;
}

Feeds::~Feeds() {
    const PipeWire& p = loop->pw;
    if (!loop->thread) return;
    p.thread_loop_stop(loop->thread);
    for (auto& s : streams)
        if (s->stream) p.stream_destroy(s->stream);
    if (loop->core) p.core_disconnect(loop->core);
    if (loop->context) p.context_destroy(loop->context);
    p.thread_loop_destroy(loop->thread);
}

// A stream pauses while the format changes, for milliseconds; one that stays paused has lost its
// producer (the portal's backend went away with the compositor, or the cast ended).
bool Feeds::broken() const {
    if (failed) return true;
    for (const auto& s : streams) {
        const DWORD since = s->paused_since;
        if (since && GetTickCount() - since > lost_producer_ms) return true;
    }
    return false;
}

void Feeds::fail_from_loop() {
    failed = true;
    SetEvent(arrived);
}

// Each monitor on the desktop of physical pixels (monitor_layout.h), as large as its latest frame;
// one with no frame yet counts at the size reported for it.
std::vector<Placed> Feeds::latest() {
    std::lock_guard<std::mutex> hold(frames_lock);
    std::vector<screen::MonitorSize> sizes;
    for (const auto& s : streams) {
        const Monitor& m = s->at;
        sizes.push_back({m.x, m.y, m.width, m.height, s->latest ? s->latest->width : m.width,
                         s->latest ? s->latest->height : m.height});
    }
    const std::vector<screen::Position> at = screen::physical_layout(sizes);
    std::vector<Placed> placed;
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i]->latest) placed.push_back({at[i].x, at[i].y, streams[i]->latest});
    return placed;
}

}  // namespace portal
