#include "engine/EngineManager.h"

EngineManager& EngineManager::shared() {
    static EngineManager manager;
    return manager;
}

EngineManager::EngineManager() = default;

void EngineManager::syncToProvider() {}
void EngineManager::stop() {}
platform::Task<bool> EngineManager::ensureReadyForFallback() { co_return false; }
bool EngineManager::fallbackAvailable() const { return false; }
bool EngineManager::running() const { return false; }
