#include "platform/pulse/PulseSoundServer.h"

namespace platform {

PulseSoundServer::PulseSoundServer() : connection_("Tovrin devices", "tovrin-devices") {}

namespace {

struct SourceList {
    std::vector<SoundSource> sources;
    bool complete = false;
};

struct SinkMute {
    bool found = false;
    bool muted = false;
};

}  // namespace

std::vector<SoundSource> PulseSoundServer::sources() {
    PulseConnection::Lock lock(connection_);
    pa_context* c = connection_.context(kConnectTimeout);
    if (!c) return {};
    SourceList list;
    pa_operation* op = pa_context_get_source_info_list(
        c,
        [](pa_context*, const pa_source_info* info, int eol, void* ud) {
            auto* l = static_cast<SourceList*>(ud);
            if (eol > 0) {
                l->complete = true;
                return;
            }
            if (eol < 0 || !info) return;
            SoundSource s;
            s.index = info->index;
            s.name = info->name ? info->name : "";
            s.description = info->description ? info->description : "";
            s.channels = info->sample_spec.channels;
            s.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            l->sources.push_back(std::move(s));
        },
        &list);
    if (!connection_.wait(op, kReplyTimeout) || !list.complete) return {};
    return list.sources;
}

std::optional<bool> PulseSoundServer::defaultSinkMuted() {
    PulseConnection::Lock lock(connection_);
    pa_context* c = connection_.context(kConnectTimeout);
    if (!c) return std::nullopt;
    SinkMute result;
    pa_operation* op = pa_context_get_sink_info_by_name(
        c, "@DEFAULT_SINK@",
        [](pa_context*, const pa_sink_info* info, int eol, void* ud) {
            if (eol != 0 || !info) return;
            auto* r = static_cast<SinkMute*>(ud);
            r->found = true;
            r->muted = info->mute != 0;
        },
        &result);
    if (!connection_.wait(op, kReplyTimeout) || !result.found) return std::nullopt;
    return result.muted;
}

bool PulseSoundServer::setDefaultSinkMuted(bool muted) {
    PulseConnection::Lock lock(connection_);
    pa_context* c = connection_.context(kConnectTimeout);
    if (!c) return false;
    int success = 0;
    pa_operation* op = pa_context_set_sink_mute_by_name(
        c, "@DEFAULT_SINK@", muted ? 1 : 0,
        [](pa_context*, int ok, void* ud) { *static_cast<int*>(ud) = ok; }, &success);
    return connection_.wait(op, kReplyTimeout) && success != 0;
}

bool PulseSoundServer::isAvailable() {
    PulseConnection::Lock lock(connection_);
    return connection_.context(kConnectTimeout) != nullptr;
}

}  // namespace platform
