// Feedback sounds played through libpulse: <folder>/<Name>.wav (16-bit PCM), loaded on first use
// and kept. play() only hands the work to the event thread and returns; sounds asked for while
// the connection is still being made play once it is up, and are dropped when it fails.
#pragma once

#include "platform/pulse/PulseConnection.h"
#include "platform/Sounds.h"

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class PulseSounds : public Sounds {
public:
    // `folder` defaults to the bundle's resources/sounds.
    explicit PulseSounds(std::string folder = {});
    ~PulseSounds() override;

    void play(const std::string& name) override;

    struct Clip {
        pa_sample_spec spec{};
        std::string data;
    };
    // Reads a 16-bit PCM WAV file; nullptr when it is missing or not that.
    static std::shared_ptr<const Clip> load(const std::string& path);

private:
    struct Playback {
        PulseSounds* owner;
        std::shared_ptr<const Clip> clip;
        pa_stream* stream = nullptr;
        std::size_t offset = 0;
    };

    std::shared_ptr<const Clip> clip(const std::string& name);
    void startPlayback(std::shared_ptr<const Clip> clip);  // lock held
    void finish(Playback* p);                              // lock held
    static void writeCallback(pa_stream* s, std::size_t bytes, void* ud);
    static void streamStateCallback(pa_stream* s, void* ud);

    std::string folder_;
    std::mutex clipsMutex_;
    std::map<std::string, std::shared_ptr<const Clip>> clips_;
    PulseConnection connection_;
    std::vector<std::shared_ptr<const Clip>> queued_;
    std::list<std::unique_ptr<Playback>> playing_;
};

}  // namespace platform
