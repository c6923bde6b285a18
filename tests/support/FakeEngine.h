// The local engine set up for a test without a real server: temporary data, log and bundle
// folders, a placeholder server executable and model file, a FakeSpeechServer on a free port
// standing in for the child, and FakeProcess children. EngineManager and ModelManager are
// pointed at all of it; the destructor puts them back.
#pragma once

#include "support/FakeProcess.h"
#include "support/FakeSpeechServer.h"
#include "support/TempFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace test {

class FakeEngine {
public:
    // `withExecutable` / `withModel`: whether the bundle holds "whisper-server" and the active
    // model ("large-v3-turbo") is on disk.
    explicit FakeEngine(bool withExecutable = true, bool withModel = true);
    ~FakeEngine();

    void installExecutable();
    // Puts a model file into the models folder and rescans; returns its path.
    std::string installModel(const std::string& id = "large-v3-turbo");

    std::string executablePath() const;
    std::string logPath() const;

    TempFolder root;
    FakeSpeechServer server;
    std::shared_ptr<FakeProcess::Log> processes = std::make_shared<FakeProcess::Log>();
    std::shared_ptr<std::vector<int>> staleListenerKills = std::make_shared<std::vector<int>>();
    // How many children had been launched when each stale-listener sweep ran.
    std::shared_ptr<std::vector<std::size_t>> launchesAtSweep = std::make_shared<std::vector<std::size_t>>();
};

}  // namespace test
