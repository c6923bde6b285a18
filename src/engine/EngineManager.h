// Runs and supervises the local speech server: a child process started with the active model,
// reached on 127.0.0.1, with its output in a log file. Decides when it runs (the on-device
// provider is chosen, a cloud route needs a fallback, the model changed), replaces a stale
// server left on the port, waits for readiness, sends one warm-up request per launch, stops an
// unneeded fallback server after five idle minutes, and starts again, with a growing pause, a
// server of the on-device provider that ended by itself.
#pragma once

#include "platform/Process.h"
#include "platform/Scheduler.h"
#include "platform/Task.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class Http;
}

class EngineManager : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultPort = 8791;
    static constexpr double kIdleStopSeconds = 300;
    // Pauses before restarting a server that ended by itself: 1 s, doubled after each restart
    // up to this bound, and back to 1 s once a server ran this long.
    static constexpr double kMaxRestartDelaySeconds = 60;
    static constexpr double kSteadyRunSeconds = 60;

    static EngineManager& shared();
    ~EngineManager() override;

    // Starts or stops the server to match the chosen provider.
    void syncToProvider();
    // (Re)launches the server when an engine and the active model are present.
    void startIfPossible();
    // Stops the server (SIGTERM); the exit status of a stopped server is not recorded, and a
    // stopped server is never restarted.
    void stop();
    // True once the server answers; false at once when it is not running.
    platform::Task<bool> waitUntilReady(double timeout);
    // Makes the server ready for a fallback transcription; false when it cannot be.
    platform::Task<bool> ensureReadyForFallback();
    // After the active model changed: relaunch for the on-device provider, else stop.
    void restartForModelChange();

    // A server executable and an installed model are present (or the server runs).
    bool fallbackAvailable() const;
    // The child was launched and has not ended or been stopped. Says nothing about readiness.
    bool running() const { return running_; }
    // How the last child ended (exit code or signal number); -1 when a launch failed; cleared
    // by a successful launch.
    std::optional<int> lastExitCode() const { return lastExitCode_; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>/inference" while running.
    std::optional<std::string> inferenceURL() const;
    // $XDG_STATE_HOME/Tovrin/engine.log, rewritten at each launch.
    static std::string logURL();
    // The folder holding the server executable, when it is there.
    std::optional<std::string> engineDir() const;

signals:
    // Fires after `running` or `lastExitCode` changed.
    void changed();

public:

    // Replaceable pieces, for tests: how a child is made, how stale listeners are removed, the port.
    void setProcessFactory(std::function<std::unique_ptr<platform::Process>()> factory);
    void setStaleListenerKiller(std::function<void(int port)> killer);
    void setPort(int port);
    // Forgets every state (stops the child first); factories and port back to their defaults.
    void resetForTesting();

private:
    EngineManager();

    bool canLaunch() const;
    void launch();
    void restartLater(double ranFor);
    void killStaleListeners();
    platform::Task<void> warmup();
    platform::Task<void> waitInBackground(double timeout);
    void scheduleIdleStopIfCloud();
    void setState(bool running, std::optional<int> lastExitCode);

    bool running_ = false;
    std::optional<int> lastExitCode_;
    int port_ = kDefaultPort;
    std::unique_ptr<platform::Process> process_;
    platform::TimerHandle idleStop_;
    platform::TimerHandle restart_;
    int restartsInARow_ = 0;
    double launchedAt_ = 0;
    bool warmedUp_ = false;
    unsigned long launchCount_ = 0;
    unsigned long generation_ = 0;
    std::unique_ptr<platform::Http> probeSession_;
    std::function<std::unique_ptr<platform::Process>()> processFactory_;
    std::function<void(int)> staleListenerKiller_;
};
