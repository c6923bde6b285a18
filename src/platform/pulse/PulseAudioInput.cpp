#include "platform/pulse/PulseAudioInput.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint32_t kRate = 16000;

struct SourceInfo {
    bool found = false;
    AudioSourceFormat format;
};

}  // namespace

PulseAudioInput::PulseAudioInput() : connection_("Tovrin capture", "tovrin-capture") {}

PulseAudioInput::~PulseAudioInput() { stop(); }

AudioInputError PulseAudioInput::errorFrom(pa_context* c, const std::string& what) const {
    int code = c ? pa_context_errno(c) : PA_ERR_CONNECTIONREFUSED;
    if (code == PA_OK) code = PA_ERR_UNKNOWN;
    return AudioInputError{"PulseAudio", code, what + ": " + pa_strerror(code)};
}

AudioSourceFormat PulseAudioInput::sourceFormat(const std::string& source) {
    PulseConnection::Lock lock(connection_);
    return queryFormat(source);
}

AudioSourceFormat PulseAudioInput::queryFormat(const std::string& source) {
    // Waits below release the lock once: it must be held only once here.
    pa_context* c = connection_.context(kConnectTimeout);
    if (!c) return {};
    SourceInfo info;
    pa_operation* op = pa_context_get_source_info_by_name(
        c, source.empty() ? "@DEFAULT_SOURCE@" : source.c_str(),
        [](pa_context*, const pa_source_info* i, int eol, void* ud) {
            if (eol != 0 || !i) return;
            auto* r = static_cast<SourceInfo*>(ud);
            r->found = true;
            r->format.source = i->name ? i->name : "";
            r->format.sampleRate = i->sample_spec.rate;
            r->format.channels = i->sample_spec.channels;
            r->format.isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
        },
        &info);
    if (!connection_.wait(op, kReplyTimeout) || !info.found) return {};
    return info.format;
}

std::optional<AudioInputError> PulseAudioInput::start(const std::string& source, std::size_t blockFrames,
                                                      BlockHandler onBlock, EndHandler onEnded) {
    stop();
    PulseConnection::Lock lock(connection_);
    pa_context* c = connection_.context(kConnectTimeout);
    if (!c) return AudioInputError{"PulseAudio", PA_ERR_CONNECTIONREFUSED,
                                   std::string("Cannot reach the sound server: ") +
                                       pa_strerror(PA_ERR_CONNECTIONREFUSED)};

    // The stream is opened on a source named here, so that what the server takes as its default
    // at that moment cannot be an output's monitor.
    std::string device = source;
    if (device.empty()) {
        const AudioSourceFormat fallback = queryFormat("");
        if (fallback.source.empty() || fallback.isMonitor)
            return AudioInputError{"PulseAudio", PA_ERR_NOENTITY, "No input device"};
        device = fallback.source;
        c = connection_.context(kConnectTimeout);
        if (!c) return errorFrom(c, "Cannot open the record stream");
    }

    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    // The server remembers the source of streams that named one and would later route default
    // captures there too; keeping the two kinds apart keeps "default" meaning the default.
    pa_proplist_sets(props, "module-stream-restore.id",
                     source.empty() ? "tovrin-capture-default" : "tovrin-capture-chosen");
    stream_ = pa_stream_new_with_proplist(c, "Dictation", &spec, &map, props);
    pa_proplist_free(props);
    if (!stream_) return errorFrom(c, "Cannot create the record stream");

    blockFrames_ = std::max<std::size_t>(1, blockFrames);
    onBlock_ = std::move(onBlock);
    onEnded_ = std::move(onEnded);
    pending_.clear();
    pending_.reserve(blockFrames_ * 2);
    block_.assign(blockFrames_, 0);

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // every field "server's choice"...
    attr.fragsize = static_cast<std::uint32_t>(blockFrames_ * 2);  // ...but one block per fragment
    pa_stream_set_state_callback(stream_, &PulseAudioInput::streamStateCallback, this);
    pa_stream_set_read_callback(stream_, &PulseAudioInput::readCallback, this);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, device.c_str(), &attr, flags) < 0) {
        AudioInputError e = errorFrom(c, "Cannot open the record stream");
        closeStream();
        return e;
    }
    connection_.waitUntil(
        [this] {
            pa_stream_state_t s = pa_stream_get_state(stream_);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        },
        kStreamTimeout);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        bool stalled = pa_stream_get_state(stream_) == PA_STREAM_CREATING;
        AudioInputError e = stalled ? AudioInputError{"PulseAudio", PA_ERR_TIMEOUT,
                                                      std::string("Cannot open the record stream: ") +
                                                          pa_strerror(PA_ERR_TIMEOUT)}
                                    : errorFrom(c, "Cannot open the record stream");
        closeStream();
        if (stalled) connection_.markStalled();
        return e;
    }
    running_ = true;
    return std::nullopt;
}

void PulseAudioInput::streamStateCallback(pa_stream* s, void* self) {
    auto* in = static_cast<PulseAudioInput*>(self);
    in->connection_.signal();
    // A ready stream that fails was ended by the server: its source went away (or the server did).
    if (in->running_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
        in->running_ = false;
        if (in->onEnded_) in->onEnded_();
    }
}

void PulseAudioInput::readCallback(pa_stream* s, std::size_t, void* self) {
    auto* in = static_cast<PulseAudioInput*>(self);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
        // A hole (no data but a length) carries nothing to keep.
        if (data) in->consume(static_cast<const std::uint8_t*>(data), bytes);
        pa_stream_drop(s);
    }
}

void PulseAudioInput::consume(const std::uint8_t* data, std::size_t bytes) {
    const std::size_t blockBytes = blockFrames_ * 2;
    while (bytes > 0) {
        std::size_t take = std::min(bytes, blockBytes - pending_.size());
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        bytes -= take;
        if (pending_.size() == blockBytes) {
            std::memcpy(block_.data(), pending_.data(), blockBytes);
            pending_.clear();
            if (onBlock_) onBlock_(std::span<const std::int16_t>(block_.data(), blockFrames_));
        }
    }
}

void PulseAudioInput::closeStream() {
    running_ = false;
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseAudioInput::stop() {
    PulseConnection::Lock lock(connection_);
    if (!stream_) return;
    // Take what the server already holds for us before letting go of the stream.
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) readCallback(stream_, 0, this);
    closeStream();
    std::size_t frames = pending_.size() / 2;
    if (frames > 0 && onBlock_) {
        std::memcpy(block_.data(), pending_.data(), frames * 2);
        onBlock_(std::span<const std::int16_t>(block_.data(), frames));
    }
    pending_.clear();
    onBlock_ = nullptr;
    onEnded_ = nullptr;
}

}  // namespace platform
