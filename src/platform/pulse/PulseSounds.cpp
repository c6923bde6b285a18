#include "platform/pulse/PulseSounds.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace platform {

namespace {

std::uint32_t le32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

std::uint16_t le16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
}

// Sound names are plain words; anything else could reach outside the folder.
bool isPlainName(const std::string& name) {
    return !name.empty() && name.size() <= 64 &&
           std::all_of(name.begin(), name.end(), [](unsigned char ch) {
               return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9');
           });
}

}  // namespace

PulseSounds::PulseSounds(std::string folder)
    : folder_(folder.empty() ? Paths::resources() + "/sounds" : std::move(folder)),
      connection_("Tovrin sounds", "tovrin-sounds") {
    connection_.onStateChange = [this](pa_context_state_t state) {
        if (state == PA_CONTEXT_READY) {
            auto queued = std::move(queued_);
            queued_.clear();
            for (auto& c : queued) startPlayback(std::move(c));
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            queued_.clear();
        }
    };
}

PulseSounds::~PulseSounds() {
    PulseConnection::Lock lock(connection_);
    connection_.onStateChange = nullptr;
    queued_.clear();
    for (auto& p : playing_) {
        if (!p->stream) continue;
        pa_stream_set_write_callback(p->stream, nullptr, nullptr);
        pa_stream_set_state_callback(p->stream, nullptr, nullptr);
        pa_stream_disconnect(p->stream);
        pa_stream_unref(p->stream);
        p->stream = nullptr;
    }
    playing_.clear();
}

std::shared_ptr<const PulseSounds::Clip> PulseSounds::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return nullptr;
    auto clip = std::make_shared<Clip>();
    bool haveFormat = false, haveData = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size() && !haveData) {
        std::string id = bytes.substr(at, 4);
        std::size_t size = le32(bytes, at + 4);
        std::size_t body = at + 8;
        std::size_t avail = std::min(size, bytes.size() - body);
        if (id == "fmt " && avail >= 16) {
            std::uint16_t format = le16(bytes, body);
            std::uint16_t channels = le16(bytes, body + 2);
            std::uint32_t rate = le32(bytes, body + 4);
            std::uint16_t bits = le16(bytes, body + 14);
            if (format != 1 || bits != 16 || channels == 0 || channels > PA_CHANNELS_MAX || rate == 0 ||
                rate > PA_RATE_MAX)
                return nullptr;
            clip->spec = pa_sample_spec{PA_SAMPLE_S16LE, rate, static_cast<std::uint8_t>(channels)};
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            std::size_t frameBytes = 2u * clip->spec.channels;
            clip->data = bytes.substr(body, avail - avail % frameBytes);
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveData || clip->data.empty()) return nullptr;
    return clip;
}

std::shared_ptr<const PulseSounds::Clip> PulseSounds::clip(const std::string& name) {
    if (!isPlainName(name)) return nullptr;
    std::lock_guard<std::mutex> g(clipsMutex_);
    auto it = clips_.find(name);
    if (it != clips_.end()) return it->second;
    auto c = load(folder_ + "/" + name + ".wav");
    clips_[name] = c;  // a missing file stays missing for this run
    return c;
}

void PulseSounds::play(const std::string& name) {
    auto c = clip(name);
    if (!c) return;
    PulseConnection::Lock lock(connection_);
    if (connection_.readyContext()) {
        startPlayback(std::move(c));
        return;
    }
    // Connecting runs on the event thread; the state callback plays what waits.
    if (queued_.size() < 8) queued_.push_back(std::move(c));
    connection_.connectAsync();
}

void PulseSounds::startPlayback(std::shared_ptr<const Clip> c) {
    pa_context* ctx = connection_.readyContext();
    if (!ctx) return;
    auto p = std::make_unique<Playback>(Playback{this, std::move(c)});
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "event");
    p->stream = pa_stream_new_with_proplist(ctx, "Feedback sound", &p->clip->spec, nullptr, props);
    pa_proplist_free(props);
    if (!p->stream) return;
    pa_stream_set_write_callback(p->stream, &PulseSounds::writeCallback, p.get());
    pa_stream_set_state_callback(p->stream, &PulseSounds::streamStateCallback, p.get());
    if (pa_stream_connect_playback(p->stream, nullptr, nullptr, static_cast<pa_stream_flags_t>(0), nullptr,
                                   nullptr) < 0) {
        pa_stream_set_write_callback(p->stream, nullptr, nullptr);
        pa_stream_set_state_callback(p->stream, nullptr, nullptr);
        pa_stream_unref(p->stream);
        return;
    }
    playing_.push_back(std::move(p));
}

void PulseSounds::writeCallback(pa_stream* s, std::size_t bytes, void* ud) {
    auto* p = static_cast<Playback*>(ud);
    const std::string& data = p->clip->data;
    if (p->offset >= data.size()) return;
    std::size_t n = std::min(bytes, data.size() - p->offset);
    if (pa_stream_write(s, data.data() + p->offset, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        p->owner->finish(p);
        return;
    }
    p->offset += n;
    if (p->offset >= data.size()) {
        pa_stream_set_write_callback(s, nullptr, nullptr);
        pa_operation* op = pa_stream_drain(
            s, [](pa_stream*, int, void* u) {
                auto* pb = static_cast<Playback*>(u);
                pb->owner->finish(pb);
            },
            p);
        if (op)
            pa_operation_unref(op);
        else
            p->owner->finish(p);
    }
}

void PulseSounds::streamStateCallback(pa_stream* s, void* ud) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
        auto* p = static_cast<Playback*>(ud);
        p->owner->finish(p);
    }
}

void PulseSounds::finish(Playback* p) {
    auto it = std::find_if(playing_.begin(), playing_.end(), [p](const auto& q) { return q.get() == p; });
    if (it == playing_.end()) return;
    std::unique_ptr<Playback> owned = std::move(*it);
    playing_.erase(it);
    if (owned->stream) {
        pa_stream_set_write_callback(owned->stream, nullptr, nullptr);
        pa_stream_set_state_callback(owned->stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(owned->stream))) pa_stream_disconnect(owned->stream);
        pa_stream_unref(owned->stream);
        owned->stream = nullptr;
    }
}

}  // namespace platform
