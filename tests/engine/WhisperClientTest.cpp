#include "state/AppError.h"
#include "dictation/AudioRecorder.h"
#include "engine/EngineManager.h"
#include "engine/WhisperClient.h"
#include "platform/Http.h"
#include "support/AsyncWait.h"
#include "support/FakeEngine.h"
#include "support/FakeSpeechServer.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <QElapsedTimer>

#include <regex>

namespace {

const std::string kWav = AudioRecorder::wav(std::string("\x01\x00\xff\x7f\x00\x80\r\n--", 10));

std::string boundaryOf(const test::RecordedRequest& r) {
    const std::string prefix = "multipart/form-data; boundary=";
    const std::string type = r.header("Content-Type");
    EXPECT_EQ(type.rfind(prefix, 0), 0u) << type;
    return type.substr(prefix.size());
}

// The engine server runs (as far as the client can tell) on the fake's port.
class EngineClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        engine = std::make_unique<test::FakeEngine>();
        EngineManager::shared().startIfPossible();
        ASSERT_TRUE(EngineManager::shared().running());
    }
    void TearDown() override { engine.reset(); }

    const test::RecordedRequest& onlyInference() {
        inference = engine->server.requestsTo("POST", "/inference");
        EXPECT_EQ(inference.size(), 1u);
        return inference.at(0);
    }

    std::unique_ptr<test::FakeEngine> engine;
    std::vector<test::RecordedRequest> inference;
    WhisperClient client{"http://127.0.0.1:1"};
};

TEST_F(EngineClientTest, AutoSendsFileAndFormatOnlyAndDropsTheServersLanguage) {
    engine->server.setReply(200, R"({"text":" Привіт, світ ","language":"uk","extra":[1,2]})");
    const WhisperResult result = test::driveTask(client.transcribe(kWav, "auto"));
    EXPECT_EQ(result.text, " Привіт, світ ");
    EXPECT_FALSE(result.language);

    const auto& r = onlyInference();
    const std::string b = boundaryOf(r);
    EXPECT_TRUE(std::regex_match(b, std::regex("Wendaro-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"))) << b;
    const std::string expected = "--" + b + "\r\n" +
                                 "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n" +
                                 "Content-Type: audio/wav\r\n\r\n" + kWav + "\r\n" +
                                 "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"response_format\"\r\n\r\n" +
                                 "json\r\n" + "--" + b + "--\r\n";
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(r.target, "/inference");
}

TEST_F(EngineClientTest, ALanguageGoesBeforeTheFormatAndIsTheResultsLanguage) {
    engine->server.setReply(200, R"({"text":"hello","language":"uk"})");
    const WhisperResult result = test::driveTask(client.transcribe(kWav, "en"));
    EXPECT_EQ(result.text, "hello");
    EXPECT_EQ(result.language, "en");

    const auto& r = onlyInference();
    const std::string b = boundaryOf(r);
    const std::string expected = "--" + b + "\r\n" +
                                 "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n" +
                                 "Content-Type: audio/wav\r\n\r\n" + kWav + "\r\n" +
                                 "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"language\"\r\n\r\n" +
                                 "en\r\n" +
                                 "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"response_format\"\r\n\r\n" +
                                 "json\r\n" + "--" + b + "--\r\n";
    EXPECT_EQ(r.body, expected);
}

TEST_F(EngineClientTest, ANon200ReplyIsEngineErrorWithTheStatus) {
    for (int status : {503, 500, 201}) {
        engine->server.setReply(status, R"({"text":"ignored"})");
        try {
            test::driveTask(client.transcribe(kWav, "auto"));
            ADD_FAILURE() << status << " did not throw";
        } catch (const AppError& e) {
            EXPECT_EQ(e.domain(), "Wendaro");
            EXPECT_EQ(e.code(), status);
            EXPECT_STREQ(e.what(), "Engine error");
        }
    }
}

TEST_F(EngineClientTest, AReplyThatIsNotAResultIsADecodingError) {
    for (const char* body : {"not json", R"({"language":"en"})", R"({"text":5})", R"({"text":"a","language":7})"}) {
        SCOPED_TRACE(body);
        engine->server.setReply(200, body);
        EXPECT_THROW(test::driveTask(client.transcribe(kWav, "auto")), nlohmann::json::exception);
    }
    engine->server.setReply(200, R"({"text":"a","language":null})");
    EXPECT_EQ(test::driveTask(client.transcribe(kWav, "auto")).text, "a");
}

TEST_F(EngineClientTest, HealthWhileTheEngineRunsIsItsReadiness) {
    EXPECT_TRUE(test::driveTask(client.isHealthy(), 0.1));
    EXPECT_EQ(engine->server.readinessProbes(), 1u);
    engine->server.setNotReadyProbes(1000);
    const double start = test::fakes().scheduler.now();
    EXPECT_FALSE(test::driveTask(client.isHealthy(), 0.1));
    EXPECT_NEAR(test::fakes().scheduler.now() - start, 3.0, 0.5);
}

// No engine server: the fixed-port server.
class FixedServerClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        EngineManager::shared().resetForTesting();
    }
    test::FakeSpeechServer server;
    WhisperClient client{server.baseUrl()};
};

TEST_F(FixedServerClientTest, SendsTheRawImageWithTheLanguageInTheQuery) {
    server.setReply(200, R"({"text":"добрий день","language":"uk"})");
    const WhisperResult result = test::driveTask(client.transcribe(kWav, "uk"));
    EXPECT_EQ(result.text, "добрий день");
    EXPECT_EQ(result.language, "uk");

    server.setReply(200, R"({"text":"hi"})");
    const WhisperResult autoResult = test::driveTask(client.transcribe(kWav, "auto"));
    EXPECT_FALSE(autoResult.language);

    const auto requests = server.requestsTo("POST", "/transcribe");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/transcribe?lang=uk");
    EXPECT_EQ(requests[1].target, "/transcribe");
    for (const auto& r : requests) {
        EXPECT_EQ(r.header("Content-Type"), "audio/wav");
        EXPECT_EQ(r.body, kWav);
    }
    EXPECT_TRUE(server.requestsTo("POST", "/inference").empty());
}

TEST_F(FixedServerClientTest, ANon200ReplyNamesTheStatus) {
    server.setReply(500, "{}");
    try {
        test::driveTask(client.transcribe(kWav, "en"));
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.domain(), "Wendaro");
        EXPECT_EQ(e.code(), 500);
        EXPECT_STREQ(e.what(), "Whisper server HTTP 500");
    }
}

TEST_F(FixedServerClientTest, HealthIsStatus200OfTheHealthPath) {
    EXPECT_TRUE(test::driveTask(client.isHealthy()));
    server.setHealthStatus(503);
    EXPECT_FALSE(test::driveTask(client.isHealthy()));
    EXPECT_EQ(server.requestsTo("GET", "/health").size(), 2u);
}

TEST(WhisperClientNoServerTest, NothingListeningIsAConnectionErrorAndUnhealthyQuickly) {
    test::reset();
    EngineManager::shared().resetForTesting();
    std::string base;
    {
        test::FakeSpeechServer gone;
        base = gone.baseUrl();
    }
    WhisperClient client(base);
    EXPECT_THROW(test::driveTask(client.transcribe(kWav, "auto")), platform::HttpError);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(test::driveTask(client.isHealthy()));
    EXPECT_LT(timer.elapsed(), 2500);
}

}  // namespace

// A stopped engine accepts connections and never answers; a long recording is sent to a server
// that stops reading. Every request ends in a time-out error, three times running.
TEST(WhisperClientTimeOut, AStoppedOrStalledServerEndsInATimeOut) {
    test::reset();
    EngineManager::shared().resetForTesting();
    platform::Http::setTimeoutLimit(0.2);
    test::LoopbackHttpServer stopped([](const test::RecordedRequest&) {
        test::CannedReply r;
        r.silent = true;
        return r;
    });
    WhisperClient client(stopped.baseUrl());
    const std::string longRecording = AudioRecorder::wav(std::string(16000 * 2 * 180, '\x01'));  // 3 minutes
    for (int run = 0; run < 3; ++run) {
        EXPECT_THROW(test::driveTask(client.transcribe(kWav, "en")), platform::HttpError);
        EXPECT_FALSE(test::driveTask(client.isHealthy()));
        EXPECT_THROW(test::driveTask(client.transcribe(longRecording, "auto")), platform::HttpError);
    }
}
