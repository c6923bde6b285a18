#include "support/FakeEngine.h"

#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Paths.h"
#include "support/TestModel.h"

#include <cstdlib>

namespace test {

FakeEngine::FakeEngine(bool withExecutable, bool withModel) {
    setenv("XDG_DATA_HOME", (root.path() + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (root.path() + "/state").c_str(), 1);
    platform::Paths::makeDirectories(root.path() + "/bundle/resources");
    platform::Paths::setBundleOverride(root.path() + "/bundle");
    if (withExecutable) installExecutable();
    ModelManager::shared().reload();
    if (withModel) installModel();

    auto& engine = EngineManager::shared();
    engine.resetForTesting();
    engine.setPort(server.port());
    engine.setProcessFactory(FakeProcess::factory(processes));
    engine.setStaleListenerKiller([kills = staleListenerKills, at = launchesAtSweep, log = processes](int port) {
        kills->push_back(port);
        at->push_back(log->launches.size());
    });
}

FakeEngine::~FakeEngine() {
    EngineManager::shared().resetForTesting();
    platform::Paths::setBundleOverride("");
    ModelManager::shared().reload();
}

void FakeEngine::installExecutable() { root.write("bundle/resources/engine-x86/whisper-server", "#!/bin/sh\n"); }

std::string FakeEngine::installModel(const std::string& id) {
    const std::string path = root.write("data/Wendaro/models/ggml-" + id + ".bin", wholeModelBytes());
    ModelManager::shared().rescan();
    return path;
}

std::string FakeEngine::executablePath() const { return root.path() + "/bundle/resources/engine-x86/whisper-server"; }
std::string FakeEngine::logPath() const { return root.path() + "/state/Tovrin/engine.log"; }

}  // namespace test
