#include "engine/EngineManager.h"

#include "state/AppSettings.h"
#include "state/FailureText.h"
#include "state/WavImage.h"
#include "engine/ModelManager.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/MultipartBody.h"
#include "platform/Machine.h"
#include "platform/MainQueue.h"
#include "platform/Paths.h"
#include "platform/PortListeners.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

constexpr double kProbeTimeout = 2;
constexpr double kProbeInterval = 0.4;
constexpr double kWarmupTimeout = 30;
constexpr double kProviderWait = 90;

bool isLocalProvider() { return AppSettings::shared().route().isLocal(); }

}  // namespace

EngineManager& EngineManager::shared() {
    static EngineManager manager;
    return manager;
}

EngineManager::EngineManager() : probeSession_(platform::Http::create(kProbeTimeout)) {
    resetForTesting();
    // Whenever the provider changes, the server is brought into line again.
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](AppSettings::Setting setting) {
        if (setting == AppSettings::Setting::provider) platform::MainQueue::post([this] { syncToProvider(); });
    });
}

EngineManager::~EngineManager() = default;

void EngineManager::resetForTesting() {
    ++generation_;  // waits still running from before give up
    if (process_) stop();
    idleStop_.cancel();
    idleStop_ = {};
    restart_.cancel();
    restart_ = {};
    restartsInARow_ = 0;
    running_ = false;
    lastExitCode_.reset();
    warmedUp_ = false;
    port_ = kDefaultPort;
    processFactory_ = [] { return platform::Process::create(); };
    staleListenerKiller_ = [](int port) { platform::PortListeners::killListeners(port); };
}

void EngineManager::setProcessFactory(std::function<std::unique_ptr<platform::Process>()> factory) {
    processFactory_ = std::move(factory);
}
void EngineManager::setStaleListenerKiller(std::function<void(int port)> killer) { staleListenerKiller_ = std::move(killer); }
void EngineManager::setPort(int port) { port_ = port; }

std::string EngineManager::logURL() {
    const std::string dir = platform::Paths::logs() + "/Tovrin";
    platform::Paths::makeDirectories(dir);
    return dir + "/engine.log";
}

std::optional<std::string> EngineManager::engineDir() const {
    const std::string dir = platform::Paths::resources() + "/engine-x86";
    std::error_code ec;
    if (std::filesystem::exists(dir + "/whisper-server", ec)) return dir;
    return std::nullopt;
}

std::optional<std::string> EngineManager::inferenceURL() const {
    if (!running_) return std::nullopt;
    return "http://127.0.0.1:" + std::to_string(port_) + "/inference";
}

bool EngineManager::fallbackAvailable() const {
    return running_ || (engineDir() && ModelManager::shared().resolvedActivePath());
}

void EngineManager::setState(bool running, std::optional<int> lastExitCode) {
    const bool differs = running != running_ || lastExitCode != lastExitCode_;
    running_ = running;
    lastExitCode_ = lastExitCode;
    if (differs) emit changed();
}

void EngineManager::syncToProvider() {
    idleStop_.cancel();
    idleStop_ = {};
    if (isLocalProvider()) {
        if (!running_) startIfPossible();
        waitInBackground(kProviderWait);
    } else {
        stop();
    }
}

platform::Task<void> EngineManager::waitInBackground(double timeout) { co_await waitUntilReady(timeout); }

bool EngineManager::canLaunch() const { return engineDir() && ModelManager::shared().resolvedActivePath(); }

void EngineManager::startIfPossible() {
    if (!canLaunch()) return;
    restartsInARow_ = 0;
    launch();
}

void EngineManager::launch() {
    const auto dir = engineDir();
    const auto model = ModelManager::shared().resolvedActivePath();
    if (!dir || !model) return;
    stop();
    killStaleListeners();
    warmedUp_ = false;

    const int threads = std::max(4, platform::Machine::processorCount() - 2);
    platform::ProcessSpec spec;
    spec.executable = *dir + "/whisper-server";
    spec.arguments = {"-m", *model, "--host", "127.0.0.1", "--port", std::to_string(port_), "--threads",
                      std::to_string(threads), "--weights", "q8"};
    // Each launch starts a fresh log; when it cannot be written the output is discarded.
    const std::string log = logURL();
    if (platform::Paths::createPrivateFile(log, /*truncate=*/true)) spec.outputPath = log;

    std::unique_ptr<platform::Process> child = processFactory_();
    const unsigned long launchId = ++launchCount_;
    child->setTerminationHandler([this, launchId](int status) {
        platform::MainQueue::post([this, launchId, status] {
            if (launchId != launchCount_ || !process_) return;  // a later launch owns the state now
            qCWarning(logEngine, "the speech server ended by itself (status %d); its output is in %s", status,
                      logURL().c_str());
            process_.reset();
            setState(false, status);
            restartLater(platform::MainQueue::now() - launchedAt_);
        });
    });
    if (child->launch(spec)) {
        process_ = std::move(child);
        launchedAt_ = platform::MainQueue::now();
        setState(true, std::nullopt);
    } else {
        qCWarning(logEngine, "the speech server %s could not be started", spec.executable.c_str());
        child->setTerminationHandler(nullptr);
        setState(false, -1);
    }
}

// The server ended by itself (or a restart could not launch it). The on-device provider needs
// it, so it is started again after a pause that grows while it keeps failing; a fallback
// server is started again on its next use instead.
void EngineManager::restartLater(double ranFor) {
    restart_.cancel();
    restart_ = {};
    if (!isLocalProvider() || !canLaunch()) return;
    if (ranFor >= kSteadyRunSeconds) restartsInARow_ = 0;
    const double delay = std::min(kMaxRestartDelaySeconds, static_cast<double>(1 << std::min(restartsInARow_, 6)));
    ++restartsInARow_;
    restart_ = platform::MainQueue::after(delay, [this] {
        if (running_ || !isLocalProvider()) return;
        launch();
        if (running_)
            waitInBackground(kProviderWait);
        else
            restartLater(0);
    });
}

void EngineManager::killStaleListeners() {
    try {
        if (staleListenerKiller_) staleListenerKiller_(port_);
    } catch (...) {
        qCWarning(logEngine, "the listeners left on port %d cannot be ended: %s", port_,
                  FailureText::forLog(std::current_exception()).c_str());
    }
}

void EngineManager::stop() {
    idleStop_.cancel();
    restart_.cancel();
    restart_ = {};
    if (process_) {
        process_->setTerminationHandler(nullptr);
        process_->terminate();
        process_.reset();
    }
    ++launchCount_;
    setState(false, lastExitCode_);
}

platform::Task<bool> EngineManager::waitUntilReady(double timeout) {
    if (!running_) co_return false;
    // The clock is looked up at every turn: tests install a new one between cases.
    const double deadline = platform::Scheduler::main().now() + timeout;
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/";
    const unsigned long generation = generation_;
    while (platform::Scheduler::main().now() < deadline && generation == generation_) {
        bool ready = false;
        try {
            platform::HttpRequest probe;
            probe.url = url;
            probe.timeout = kProbeTimeout;
            const platform::HttpResponse response = co_await probeSession_->send(std::move(probe));
            ready = response.status == 200;
        } catch (...) {
            // Refused until the server listens: only the end of the whole wait is worth a warning.
            qCDebug(logEngine, "the speech server does not answer yet: %s",
                    FailureText::forLog(std::current_exception()).c_str());
        }
        if (ready) {
            co_await warmup();
            co_return true;
        }
        co_await platform::sleepFor(kProbeInterval);
    }
    if (generation == generation_) qCWarning(logEngine, "the speech server did not answer within %.0f s", timeout);
    co_return false;
}

platform::Task<void> EngineManager::warmup() {
    const auto url = inferenceURL();
    if (warmedUp_ || !url) co_return;
    warmedUp_ = true;
    const std::string wav = WavImage::make(std::string(16000, '\0'));
    platform::MultipartBody form("warmup-" + platform::http::makeUuid());
    form.file("file", "w.wav", "audio/wav", wav);
    platform::HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.timeout = kWarmupTimeout;
    request.headers = {{"Content-Type", form.contentType()}};
    request.body = form.finish();
    try {
        auto session = platform::Http::create(kWarmupTimeout);
        co_await session->send(std::move(request));
    } catch (...) {
        qCWarning(logEngine, "the speech server's warm-up failed: %s",
                  FailureText::forLog(std::current_exception()).c_str());
    }
}

platform::Task<bool> EngineManager::ensureReadyForFallback() {
    if (!running_) startIfPossible();
    if (!running_) co_return false;
    const bool ready = co_await waitUntilReady(kProviderWait);
    scheduleIdleStopIfCloud();
    co_return ready;
}

void EngineManager::scheduleIdleStopIfCloud() {
    idleStop_.cancel();
    idleStop_ = {};
    if (isLocalProvider()) return;
    idleStop_ = platform::MainQueue::after(kIdleStopSeconds, [this] {
        if (!isLocalProvider()) stop();
    });
}

void EngineManager::restartForModelChange() {
    if (isLocalProvider())
        startIfPossible();
    else if (running_)
        stop();
}
