#include "state/AppSettings.h"
#include "dictation/AudioRecorder.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Defaults.h"
#include "platform/Machine.h"
#include "support/AsyncWait.h"
#include "support/FakeEngine.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class EngineManagerTest : public ::testing::Test {
protected:
    void SetUp() override { test::reset(); }
    void TearDown() override { fake.reset(); }

    test::FakeEngine& makeEngine(bool withExecutable = true, bool withModel = true) {
        fake.reset();
        fake = std::make_unique<test::FakeEngine>(withExecutable, withModel);
        return *fake;
    }
    // Waits for readiness, letting the fake clock run through the pauses between probes.
    bool waitReady(double timeout) { return test::driveTask(engine().waitUntilReady(timeout), 0.1); }
    EngineManager& engine() { return EngineManager::shared(); }
    double now() { return test::fakes().scheduler.now(); }

    std::unique_ptr<test::FakeEngine> fake;
};

TEST_F(EngineManagerTest, NothingStartsWithoutAnExecutableOrAModel) {
    for (auto [exe, model] : {std::pair{false, true}, std::pair{true, false}, std::pair{false, false}}) {
        auto& f = makeEngine(exe, model);
        engine().startIfPossible();
        EXPECT_FALSE(engine().running());
        EXPECT_FALSE(engine().lastExitCode());
        EXPECT_FALSE(engine().fallbackAvailable());
        EXPECT_TRUE(f.processes->launches.empty());
        EXPECT_FALSE(test::driveTask(engine().ensureReadyForFallback()));
        EXPECT_EQ(test::fakes().scheduler.pendingCount(), 0u);  // no idle stop
    }
    auto& f = makeEngine(true, true);
    EXPECT_TRUE(engine().fallbackAvailable());
    EXPECT_FALSE(engine().running());
    // Not running: false at once, without a probe.
    const double start = now();
    EXPECT_FALSE(test::driveTask(engine().waitUntilReady(3), 0.1));
    EXPECT_EQ(now(), start);
    EXPECT_EQ(f.server.readinessProbes(), 0u);
}

TEST_F(EngineManagerTest, LaunchesWithTheModelAndAFreshLogAfterClearingTheStaleListener) {
    auto& f = makeEngine();
    const std::string model = f.installModel("small");
    ModelManager::shared().setActiveModelID("small");
    f.root.write("state/Tovrin/engine.log", "output of the previous run\n");
    int changes = 0;
    auto listener = std::make_unique<QObject>();
    QObject::connect(&engine(), &EngineManager::changed, listener.get(), [&] { ++changes; });

    engine().startIfPossible();
    listener.reset();

    ASSERT_EQ(f.processes->launches.size(), 1u);
    const auto& spec = f.processes->launches[0];
    EXPECT_EQ(spec.executable, f.executablePath());
    const int threads = std::max(4, platform::Machine::processorCount() - 2);
    const std::vector<std::string> args = {"-m", model, "--host", "127.0.0.1", "--port", std::to_string(f.server.port()),
                                           "--threads", std::to_string(threads), "--weights", "q8"};
    EXPECT_EQ(spec.arguments, args);
    EXPECT_EQ(spec.outputPath, f.logPath());
    EXPECT_EQ(EngineManager::logURL(), f.logPath());
    EXPECT_EQ(readFile(f.logPath()), "");
    // The port was swept before the launch.
    EXPECT_EQ(*f.staleListenerKills, std::vector<int>{f.server.port()});
    EXPECT_EQ(*f.launchesAtSweep, std::vector<std::size_t>{0});

    EXPECT_TRUE(engine().running());
    EXPECT_FALSE(engine().lastExitCode());
    EXPECT_GE(changes, 1);
    EXPECT_EQ(engine().inferenceURL(), "http://127.0.0.1:" + std::to_string(f.server.port()) + "/inference");
    EXPECT_EQ(EngineManager::kDefaultPort, 8791);
}

TEST_F(EngineManagerTest, ReadyAfterAboutFiveSecondsOfNotReadyThenExactlyOneWarmupPerLaunch) {
    auto& f = makeEngine();
    f.server.setNotReadyProbes(12);
    engine().startIfPossible();
    const double start = now();
    EXPECT_TRUE(waitReady(90));
    EXPECT_NEAR(now() - start, 5.0, 0.5);  // twelve pauses of 0.4 s
    EXPECT_EQ(f.server.readinessProbes(), 13u);

    auto warmups = f.server.requestsTo("POST", "/inference");
    ASSERT_EQ(warmups.size(), 1u);
    const auto& w = warmups[0];
    const std::string type = w.header("Content-Type");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        type, m, std::regex("multipart/form-data; boundary=(warmup-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})")))
        << type;
    const std::string b = m[1];
    const std::string silence = AudioRecorder::wav(std::string(16000, '\0'));
    ASSERT_EQ(silence.size(), 16044u);
    EXPECT_EQ(w.body, "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"w.wav\"\r\n" +
                          "Content-Type: audio/wav\r\n\r\n" + silence + "\r\n--" + b + "--\r\n");

    // Ready again: no second warm-up.
    EXPECT_TRUE(waitReady(3));
    EXPECT_EQ(f.server.requestsTo("POST", "/inference").size(), 1u);

    // A new launch warms up once more.
    engine().startIfPossible();
    EXPECT_TRUE(waitReady(3));
    EXPECT_TRUE(waitReady(3));
    EXPECT_EQ(f.server.requestsTo("POST", "/inference").size(), 2u);
}

TEST_F(EngineManagerTest, GivesUpAtTheDeadlineWhenTheServerNeverAnswers200) {
    auto& f = makeEngine();
    f.server.setNotReadyProbes(1000000);
    engine().startIfPossible();
    const double start = now();
    EXPECT_FALSE(waitReady(3));
    EXPECT_GE(now() - start, 3.0);
    EXPECT_LT(now() - start, 3.6);
    EXPECT_NEAR(static_cast<double>(f.server.readinessProbes()), 8, 1);
    EXPECT_TRUE(f.server.requestsTo("POST", "/inference").empty());
}

TEST_F(EngineManagerTest, ExitsAndStopsAreRecordedAsTheyShouldBe) {
    auto& f = makeEngine();
    engine().startIfPossible();
    ASSERT_TRUE(f.processes->current);

    // A crash: its status is recorded.
    f.processes->current->exitWith(11);
    test::fakes().scheduler.runPending();
    EXPECT_FALSE(engine().running());
    EXPECT_EQ(engine().lastExitCode(), 11);
    EXPECT_FALSE(engine().inferenceURL());

    // A successful launch clears it; a stop by the program leaves the last code alone.
    engine().startIfPossible();
    EXPECT_TRUE(engine().running());
    EXPECT_FALSE(engine().lastExitCode());
    f.processes->current->exitWith(3);
    test::fakes().scheduler.runPending();
    EXPECT_EQ(engine().lastExitCode(), 3);
    engine().startIfPossible();
    engine().stop();
    test::fakes().scheduler.runPending();
    EXPECT_EQ(f.processes->terminations, 1);
    EXPECT_FALSE(engine().running());
    EXPECT_FALSE(engine().lastExitCode());

    // A launch that fails.
    f.processes->failLaunch = true;
    engine().startIfPossible();
    EXPECT_FALSE(engine().running());
    EXPECT_EQ(engine().lastExitCode(), -1);
}

TEST_F(EngineManagerTest, ProviderChangesStartAndStopTheServer) {
    auto& f = makeEngine();
    // A provider change brings the server in line by itself.
    AppSettings::shared().setProvider("local");
    EXPECT_FALSE(engine().running());
    test::fakes().scheduler.runPending();
    EXPECT_TRUE(engine().running());
    // The background wait probes the server.
    ASSERT_TRUE(test::driveUntil([&] { return f.server.requestsTo("POST", "/inference").size() == 1; }, 10, 0.1));
    // Already running: no relaunch.
    engine().syncToProvider();
    EXPECT_EQ(f.processes->launches.size(), 1u);

    AppSettings::shared().setProvider("openai");
    test::fakes().scheduler.runPending();
    EXPECT_FALSE(engine().running());
    EXPECT_EQ(f.processes->terminations, 1);
    EXPECT_FALSE(engine().lastExitCode());  // SIGTERM by the program is not recorded
}

TEST_F(EngineManagerTest, ModelChangeRelaunchesForLocalAndStopsOtherwise) {
    auto& f = makeEngine();
    AppSettings::shared().setProvider("local");
    test::fakes().scheduler.runPending();
    ASSERT_EQ(f.processes->launches.size(), 1u);
    const std::string other = f.installModel("tiny");
    ModelManager::shared().setActiveModelID("tiny");
    engine().restartForModelChange();
    EXPECT_EQ(f.processes->launches.size(), 2u);
    EXPECT_EQ(f.processes->terminations, 1);
    EXPECT_EQ(f.processes->launches.back().arguments.at(1), other);
    EXPECT_TRUE(engine().running());

    AppSettings::shared().setProvider("groq");
    test::fakes().scheduler.runPending();
    EXPECT_FALSE(engine().running());
    engine().startIfPossible();
    engine().restartForModelChange();
    EXPECT_FALSE(engine().running());
    engine().restartForModelChange();
    EXPECT_EQ(f.processes->launches.size(), 3u);
    EXPECT_EQ(f.processes->terminations, 3);
}

TEST_F(EngineManagerTest, TheFallbackServerStopsFiveMinutesAfterItsLastUse) {
    makeEngine();
    AppSettings::shared().setProvider("groq");
    test::fakes().scheduler.runPending();
    auto& clock = test::fakes().scheduler;

    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));  // "12:00"
    clock.advance(180);                                                 // "12:03"
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    clock.advance(299);
    EXPECT_TRUE(engine().running());
    clock.advance(2);  // past "12:08"
    EXPECT_FALSE(engine().running());
    EXPECT_FALSE(engine().lastExitCode());

    // Switching to the on-device provider in between keeps the server.
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    clock.advance(100);
    AppSettings::shared().setProvider("local");
    test::fakes().scheduler.runPending();
    clock.advance(600);
    EXPECT_TRUE(engine().running());

    // Chosen locally, a fallback use never schedules a stop.
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    clock.advance(900);
    EXPECT_TRUE(engine().running());
}

TEST_F(EngineManagerTest, AnIdleStopDueWhileTheProviderIsLocalDoesNothing) {
    makeEngine();
    AppSettings::shared().setProvider("groq");
    test::fakes().scheduler.runPending();
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    // The setting changes without a sync: the pending stop itself looks at the provider.
    platform::Defaults::shared().setString("provider", "local");
    AppSettings::shared().reload();
    test::fakes().scheduler.advance(301);
    EXPECT_TRUE(engine().running());
}

TEST_F(EngineManagerTest, AServerThatEndsByItselfIsStartedAgainAfterAGrowingPause) {
    auto& f = makeEngine();
    auto& clock = test::fakes().scheduler;
    AppSettings::shared().setProvider("local");
    clock.runPending();
    ASSERT_TRUE(engine().running());

    // Crashing right after each launch: 1 s, 2 s, 4 s, and never more than a minute.
    for (std::size_t crash = 0; crash < 10; ++crash) {
        const std::size_t launches = f.processes->launches.size();
        f.processes->current->exitWith(9);
        clock.runPending();
        EXPECT_FALSE(engine().running());
        EXPECT_EQ(engine().lastExitCode(), 9);  // observable until the next launch
        const double pause = crash < 3 ? static_cast<double>(1 << crash) : 60;
        clock.advance(pause - 0.05);
        if (crash < 3) EXPECT_EQ(f.processes->launches.size(), launches) << "restarted too soon, crash " << crash;
        clock.advance(0.1);
        ASSERT_EQ(f.processes->launches.size(), launches + 1) << "not restarted in time, crash " << crash;
        EXPECT_TRUE(engine().running());
        EXPECT_FALSE(engine().lastExitCode());
    }
    EXPECT_EQ(f.processes->launches.back().arguments, f.processes->launches.front().arguments);

    // A server that ran fine for a while is back after a second again.
    clock.advance(EngineManager::kSteadyRunSeconds + 1);
    f.processes->current->exitWith(6);
    clock.runPending();
    clock.advance(1.05);
    EXPECT_TRUE(engine().running());
}

TEST_F(EngineManagerTest, AStopThatWeAskedForIsNeverFollowedByARestart) {
    auto& f = makeEngine();
    auto& clock = test::fakes().scheduler;
    AppSettings::shared().setProvider("local");
    clock.runPending();
    const auto launchesAfter = [&](double seconds) {
        clock.advance(seconds);
        return f.processes->launches.size();
    };

    // Quit, and a provider change, both while a restart is pending and while the server runs.
    f.processes->current->exitWith(9);
    clock.runPending();
    engine().stop();
    EXPECT_EQ(launchesAfter(600), 1u);
    engine().startIfPossible();
    f.processes->current->exitWith(9);
    clock.runPending();
    AppSettings::shared().setProvider("groq");
    clock.runPending();
    EXPECT_EQ(launchesAfter(600), 2u);
    AppSettings::shared().setProvider("local");
    clock.runPending();
    AppSettings::shared().setProvider("groq");
    clock.runPending();
    EXPECT_EQ(launchesAfter(600), 3u);
    EXPECT_FALSE(engine().running());

    // The fallback server's idle stop, and its crash: it is started again on its next use only.
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    EXPECT_EQ(launchesAfter(EngineManager::kIdleStopSeconds + 600), 4u);
    EXPECT_FALSE(engine().running());
    EXPECT_TRUE(test::driveTask(engine().ensureReadyForFallback()));
    f.processes->current->exitWith(9);
    EXPECT_EQ(launchesAfter(600), 5u);

    // A model change replaces the server once; the old one's end restarts nothing.
    AppSettings::shared().setProvider("local");
    clock.runPending();
    f.installModel("tiny");
    ModelManager::shared().setActiveModelID("tiny");
    engine().restartForModelChange();
    EXPECT_EQ(launchesAfter(600), 7u);
    EXPECT_TRUE(engine().running());
    EXPECT_FALSE(engine().lastExitCode());
}

}  // namespace
