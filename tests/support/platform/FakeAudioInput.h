// A capture source driven by hand, for tests: the test says which sources exist, and feeds
// blocks itself (on whatever thread it likes) while a capture runs.
#pragma once

#include "platform/AudioInput.h"

#include <map>
#include <mutex>
#include <vector>

namespace platform {

class FakeAudioInput : public AudioInput {
public:
    FakeAudioInput();

    AudioSourceFormat sourceFormat(const std::string& source) override;
    std::optional<AudioInputError> start(const std::string& source, std::size_t blockFrames,
                                         BlockHandler onBlock, EndHandler onEnded) override;
    void stop() override;

    // Test controls.
    // The format reported for a source name; "" stands for the default source.
    void setFormat(const std::string& source, AudioSourceFormat format);
    // The next start() fails with this error.
    void failNextStart(AudioInputError error);
    // Hands samples to the running capture; false when none runs.
    bool deliver(const std::vector<std::int16_t>& samples);
    // The source goes away: the running capture ends by itself (stop() still hands over the
    // tail). False when none runs.
    bool loseSource();
    // Samples that stop() still hands over (a partly filled block).
    void setTail(std::vector<std::int16_t> samples);

    bool running() const;
    std::string startedSource() const;   // source of the last successful start
    std::size_t startedBlockFrames() const;
    int starts() const;                  // successful starts
    int stops() const;                   // stop() calls that ended a capture

private:
    mutable std::mutex mutex_;
    std::map<std::string, AudioSourceFormat> formats_;
    std::optional<AudioInputError> failure_;
    BlockHandler handler_;
    EndHandler ended_;
    bool lost_ = false;
    std::vector<std::int16_t> tail_;
    bool running_ = false;
    std::string source_;
    std::size_t blockFrames_ = 0;
    int starts_ = 0;
    int stops_ = 0;
};

}  // namespace platform
