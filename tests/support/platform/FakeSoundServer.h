// A sound server held in memory, for tests: a list of sources and one default sink.
#pragma once

#include "platform/SoundServer.h"

#include <mutex>

namespace platform {

class FakeSoundServer : public SoundServer {
public:
    std::vector<SoundSource> sources() override;
    std::optional<bool> defaultSinkMuted() override;
    bool setDefaultSinkMuted(bool muted) override;
    bool isAvailable() override;

    // Test controls (safe from any thread).
    void setSources(std::vector<SoundSource> sources);
    void setAvailable(bool available);    // false: nothing answers
    void setHasDefaultSink(bool has);     // false: the mute switch cannot be read or set
    void setMuted(bool muted);            // changes the state without counting a write
    bool muted() const;
    int muteWrites() const;               // successful setDefaultSinkMuted calls

private:
    mutable std::mutex mutex_;
    std::vector<SoundSource> sources_;
    bool available_ = true;
    bool hasSink_ = true;
    bool muted_ = false;
    int writes_ = 0;
};

}  // namespace platform
