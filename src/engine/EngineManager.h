// Runs and supervises the local speech server process.
#pragma once

#include "platform/Signal.h"
#include "platform/Task.h"

#include <optional>

class EngineManager {
public:
    static EngineManager& shared();

    // Starts or stops the server to match the chosen provider.
    void syncToProvider();
    void stop();
    // Makes the server ready for a fallback transcription; false when it cannot be.
    platform::Task<bool> ensureReadyForFallback();
    // A server executable and an installed model are present.
    bool fallbackAvailable() const;
    bool running() const;

    platform::Signal<> changed;

private:
    EngineManager();
};
