#include "platform/FakeSoundServer.h"

namespace platform {

std::vector<SoundSource> FakeSoundServer::sources() {
    std::lock_guard<std::mutex> g(mutex_);
    if (!available_) return {};
    return sources_;
}

std::optional<bool> FakeSoundServer::defaultSinkMuted() {
    std::lock_guard<std::mutex> g(mutex_);
    if (!available_ || !hasSink_) return std::nullopt;
    return muted_;
}

bool FakeSoundServer::setDefaultSinkMuted(bool muted) {
    std::lock_guard<std::mutex> g(mutex_);
    if (!available_ || !hasSink_) return false;
    muted_ = muted;
    ++writes_;
    return true;
}

bool FakeSoundServer::isAvailable() {
    std::lock_guard<std::mutex> g(mutex_);
    return available_;
}

void FakeSoundServer::setSources(std::vector<SoundSource> sources) {
    std::lock_guard<std::mutex> g(mutex_);
    sources_ = std::move(sources);
}

void FakeSoundServer::setAvailable(bool available) {
    std::lock_guard<std::mutex> g(mutex_);
    available_ = available;
}

void FakeSoundServer::setHasDefaultSink(bool has) {
    std::lock_guard<std::mutex> g(mutex_);
    hasSink_ = has;
}

void FakeSoundServer::setMuted(bool muted) {
    std::lock_guard<std::mutex> g(mutex_);
    muted_ = muted;
}

bool FakeSoundServer::muted() const {
    std::lock_guard<std::mutex> g(mutex_);
    return muted_;
}

int FakeSoundServer::muteWrites() const {
    std::lock_guard<std::mutex> g(mutex_);
    return writes_;
}

}  // namespace platform
