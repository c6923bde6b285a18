#include "platform/FakeAudioInput.h"

namespace platform {

FakeAudioInput::FakeAudioInput() {
    formats_[""] = AudioSourceFormat{"default", 48000, 2, false};
}

AudioSourceFormat FakeAudioInput::sourceFormat(const std::string& source) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = formats_.find(source);
    return it == formats_.end() ? AudioSourceFormat{} : it->second;
}

std::optional<AudioInputError> FakeAudioInput::start(const std::string& source, std::size_t blockFrames,
                                                     BlockHandler onBlock, EndHandler onEnded) {
    std::lock_guard<std::mutex> g(mutex_);
    if (failure_) {
        auto e = *failure_;
        failure_.reset();
        running_ = false;
        handler_ = nullptr;
        return e;
    }
    running_ = true;
    lost_ = false;
    handler_ = std::move(onBlock);
    ended_ = std::move(onEnded);
    source_ = source;
    blockFrames_ = blockFrames;
    ++starts_;
    return std::nullopt;
}

void FakeAudioInput::stop() {
    BlockHandler handler;
    std::vector<std::int16_t> tail;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!running_) return;
        running_ = false;
        ++stops_;
        handler = std::move(handler_);
        handler_ = nullptr;
        ended_ = nullptr;
        tail = std::move(tail_);
        tail_.clear();
    }
    if (handler && !tail.empty()) handler(std::span<const std::int16_t>(tail.data(), tail.size()));
}

void FakeAudioInput::setFormat(const std::string& source, AudioSourceFormat format) {
    std::lock_guard<std::mutex> g(mutex_);
    formats_[source] = std::move(format);
}

void FakeAudioInput::failNextStart(AudioInputError error) {
    std::lock_guard<std::mutex> g(mutex_);
    failure_ = std::move(error);
}

bool FakeAudioInput::deliver(const std::vector<std::int16_t>& samples) {
    BlockHandler handler;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!running_ || lost_ || !handler_) return false;
        handler = handler_;
    }
    handler(std::span<const std::int16_t>(samples.data(), samples.size()));
    return true;
}

bool FakeAudioInput::loseSource() {
    EndHandler ended;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!running_ || lost_) return false;
        lost_ = true;
        ended = ended_;
    }
    if (ended) ended();
    return true;
}

void FakeAudioInput::setTail(std::vector<std::int16_t> samples) {
    std::lock_guard<std::mutex> g(mutex_);
    tail_ = std::move(samples);
}

bool FakeAudioInput::running() const {
    std::lock_guard<std::mutex> g(mutex_);
    return running_;
}

std::string FakeAudioInput::startedSource() const {
    std::lock_guard<std::mutex> g(mutex_);
    return source_;
}

std::size_t FakeAudioInput::startedBlockFrames() const {
    std::lock_guard<std::mutex> g(mutex_);
    return blockFrames_;
}

int FakeAudioInput::starts() const {
    std::lock_guard<std::mutex> g(mutex_);
    return starts_;
}

int FakeAudioInput::stops() const {
    std::lock_guard<std::mutex> g(mutex_);
    return stops_;
}

}  // namespace platform
