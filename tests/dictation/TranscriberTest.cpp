#include "state/AppError.h"
#include "state/AppSettings.h"
#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "cloud/CloudTranscriber.h"
#include "dictation/AudioRecorder.h"
#include "dictation/Transcriber.h"
#include "engine/EngineManager.h"
#include "engine/WhisperClient.h"
#include "platform/Http.h"
#include "support/AsyncWait.h"
#include "support/FakeAccountService.h"
#include "support/FakeEngine.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

const std::string kWav = AudioRecorder::wav(std::string(3200, '\x11'));

// A cloud route that fails as a missing key does, or answers when told to.
class ScriptedCloud : public CloudTranscriber {
public:
    platform::Task<WhisperResult> transcribe(std::string wav, std::string lang, Provider provider,
                                             std::string model) override {
        ++calls;
        lastProvider = provider;
        lastModel = model;
        lastLang = lang;
        if (answer) co_return *answer;
        throw AppError(10, "No Groq API key — add it in Settings.");
    }
    int calls = 0;
    std::optional<Provider> lastProvider;
    std::string lastModel;
    std::string lastLang;
    std::optional<WhisperResult> answer;
};

class TranscriberTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        ASSERT_FALSE(BackendClient::shared().isLoggedIn());
    }
    void TearDown() override { engine.reset(); }

    test::FakeEngine& makeEngine(bool withExecutable = true, bool withModel = true) {
        engine.reset();
        engine = std::make_unique<test::FakeEngine>(withExecutable, withModel);
        return *engine;
    }

    std::unique_ptr<test::FakeEngine> engine;
    test::FakeSpeechServer fixedServer;
    WhisperClient local{fixedServer.baseUrl()};
    ScriptedCloud cloud;
    Transcriber transcriber{local, cloud};
};

TEST_F(TranscriberTest, SignedOutAccountRouteWithoutAModelIsNotHealthy) {
    makeEngine(true, false);
    AppSettings::shared().setProvider("tovrin");
    test::fakes().scheduler.runPending();
    EXPECT_FALSE(test::driveTask(transcriber.isHealthy()));
    engine->installModel();
    EXPECT_TRUE(test::driveTask(transcriber.isHealthy()));
}

TEST_F(TranscriberTest, CloudRouteWithoutAKeyFallsBackToTheLocalServer) {
    auto& e = makeEngine();
    e.server.setReply(200, R"({"text":"from the engine","language":"uk"})");
    AppSettings::shared().setProvider("groq");
    test::fakes().scheduler.runPending();
    AppSettings::shared().setLanguage("en");
    EXPECT_TRUE(test::driveTask(transcriber.isHealthy()));
    EXPECT_FALSE(EngineManager::shared().running());  // the check does not start anything

    const WhisperResult result = test::driveTask(transcriber.transcribe(kWav, "en"));
    EXPECT_EQ(cloud.calls, 1);
    EXPECT_EQ(cloud.lastProvider, CloudTranscriber::Provider::groq);
    EXPECT_EQ(cloud.lastModel, AppSettings::shared().cloudModel("groq"));
    EXPECT_EQ(cloud.lastLang, "en");
    EXPECT_EQ(result.text, "from the engine");
    EXPECT_EQ(result.language, "en");
    EXPECT_TRUE(EngineManager::shared().running());
    // The warm-up, then the recording itself.
    const auto inference = e.server.requestsTo("POST", "/inference");
    ASSERT_EQ(inference.size(), 2u);
    EXPECT_NE(inference[1].body.find(kWav), std::string::npos);
    EXPECT_TRUE(fixedServer.requests().empty());
}

// The service refused the renewal and signed the user out: the next recording on the account
// route is not uploaded without a token; the local server transcribes it.
TEST_F(TranscriberTest, AfterARefusedRenewalTheAccountRouteUploadsNothingAndFallsBack) {
    test::FakeAccountService service;
    test::fakes().defaults.setString("backendURL", service.baseURL());
    service.addAccount("ann@example.com", "pw");
    auto& backend = BackendClient::shared();
    test::await(backend.login("ann@example.com", "pw"));
    service.scriptReply("auth/refresh", 401, R"({"error":{"code":"INVALID_REFRESH_TOKEN","message":"Session expired"}})");
    EXPECT_THROW(test::await(backend.refresh()), BackendError);
    ASSERT_FALSE(backend.isLoggedIn());

    auto& e = makeEngine();
    e.server.setReply(200, R"({"text":"from the engine"})");
    AppSettings::shared().setProvider("tovrin");
    test::fakes().scheduler.runPending();
    const WhisperResult result = test::driveTask(transcriber.transcribe(kWav, "auto"));
    EXPECT_EQ(result.text, "from the engine");
    EXPECT_EQ(service.count("stt/transcribe"), 0);
    EXPECT_EQ(service.count("auth/refresh"), 1);  // nothing left to renew
}

TEST_F(TranscriberTest, CloudRouteWithAKeyIsHealthyAndAnsweredByTheCloud) {
    makeEngine(false, false);
    AppSettings::shared().setProvider("openai");
    test::fakes().scheduler.runPending();
    EXPECT_FALSE(test::driveTask(transcriber.isHealthy()));
    AppSettings::shared().setAPIKey("sk-test", "openai");
    EXPECT_TRUE(test::driveTask(transcriber.isHealthy()));

    cloud.answer = WhisperResult{"cloud text", "en"};
    const WhisperResult result = test::driveTask(transcriber.transcribe(kWav, "auto"));
    EXPECT_EQ(result.text, "cloud text");
    EXPECT_EQ(cloud.lastProvider, CloudTranscriber::Provider::openai);
    EXPECT_FALSE(EngineManager::shared().running());
}

TEST_F(TranscriberTest, ARemoteErrorStandsWhenTheLocalServerCannotBeMadeReady) {
    // No engine at all: the cloud's own error comes back.
    makeEngine(false, true);
    AppSettings::shared().setProvider("mistral");
    test::fakes().scheduler.runPending();
    try {
        test::driveTask(transcriber.transcribe(kWav, "auto"));
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.code(), 10);
    }
    EXPECT_TRUE(fixedServer.requests().empty());

    // An engine that never becomes ready: still the cloud's error, after the readiness wait.
    auto& e = makeEngine();
    e.server.setNotReadyProbes(1000000);
    auto outcome = test::startTask(transcriber.transcribe(kWav, "auto"));
    ASSERT_TRUE(test::driveUntil([&] { return outcome->done; }, 60, 5));
    ASSERT_TRUE(outcome->error);
    EXPECT_THROW(std::rethrow_exception(outcome->error), AppError);
    EXPECT_GE(test::fakes().scheduler.now(), 90);
    EXPECT_TRUE(e.server.requestsTo("POST", "/inference").empty());
}

TEST_F(TranscriberTest, LocalRouteWithTheServerDownThrowsTheLocalErrorWithoutFallback) {
    makeEngine();
    AppSettings::shared().setProvider("local");
    test::fakes().scheduler.runPending();
    ASSERT_EQ(engine->processes->launches.size(), 1u);  // the provider change started it…
    engine->processes->current->exitWith(1);           // …and it went down
    test::fakes().scheduler.runPending();
    ASSERT_FALSE(EngineManager::shared().running());

    std::string deadBase;
    {
        test::FakeSpeechServer gone;
        deadBase = gone.baseUrl();
    }
    WhisperClient deadLocal(deadBase);
    Transcriber t(deadLocal, cloud);
    EXPECT_THROW(test::driveTask(t.transcribe(kWav, "auto")), platform::HttpError);
    EXPECT_FALSE(test::driveTask(t.isHealthy()));
    EXPECT_EQ(cloud.calls, 0);
    EXPECT_EQ(engine->processes->launches.size(), 1u);
    EXPECT_EQ(EngineManager::shared().lastExitCode(), 1);
}

TEST_F(TranscriberTest, LocalRouteUsesTheFixedServerWhileNoEngineRuns) {
    makeEngine(false, false);
    AppSettings::shared().setProvider("local");
    test::fakes().scheduler.runPending();
    fixedServer.setReply(200, R"({"text":"fixed","language":"uk"})");
    const WhisperResult result = test::driveTask(transcriber.transcribe(kWav, "auto"));
    EXPECT_EQ(result.text, "fixed");
    EXPECT_EQ(result.language, "uk");
    EXPECT_TRUE(test::driveTask(transcriber.isHealthy()));
    EXPECT_EQ(cloud.calls, 0);
}

TEST_F(TranscriberTest, TheFallbackServerStopsFiveMinutesAfterTheLastFallback) {
    makeEngine();
    AppSettings::shared().setProvider("groq");
    test::fakes().scheduler.runPending();
    auto& clock = test::fakes().scheduler;
    test::driveTask(transcriber.transcribe(kWav, "auto"));
    clock.advance(180);
    test::driveTask(transcriber.transcribe(kWav, "auto"));
    clock.advance(299);
    EXPECT_TRUE(EngineManager::shared().running());
    clock.advance(2);
    EXPECT_FALSE(EngineManager::shared().running());

    // A switch to the on-device provider cancels the pending stop.
    test::driveTask(transcriber.transcribe(kWav, "auto"));
    clock.advance(60);
    AppSettings::shared().setProvider("local");
    test::fakes().scheduler.runPending();
    EngineManager::shared().syncToProvider();
    clock.advance(600);
    EXPECT_TRUE(EngineManager::shared().running());
    EXPECT_EQ(cloud.calls, 3);
}

}  // namespace
