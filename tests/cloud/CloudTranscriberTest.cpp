// Cloud speech-to-text against loopback stand-ins of the providers' endpoints.
#include "cloud/CloudTranscriber.h"

#include "state/AppError.h"
#include "state/Secrets.h"
#include "platform/Http.h"
#include "support/LoopbackHttpServer.h"
#include "support/AsyncWait.h"
#include "cloud/DecodingError.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <regex>

namespace {

using Provider = CloudTranscriber::Provider;

class CloudTranscriberTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        server = std::make_unique<test::LoopbackHttpServer>([this](const test::RecordedRequest&) {
            ++served;
            return script ? script(served) : reply;
        });
        std::map<Provider, std::string> bases;
        for (Provider p : CloudTranscriber::allProviders()) bases[p] = server->baseUrl();
        cloud = std::make_unique<CloudTranscriber>(platform::Http::create(60), bases);
        for (const char* p : {"groq", "openai", "mistral", "deepgram", "elevenlabs"})
            Secrets::set(std::string("key-") + p, std::string(p) + "ApiKey");
    }

    // Runs on the fake clock, which moves on while a pause is waited out.
    WhisperResult run(Provider p, const std::string& lang, const std::string& model = "m1") {
        return test::driveTask(cloud->transcribe(wav, lang, p, model), 0.5);
    }
    // The thrown AppError's code and text.
    std::pair<int, std::string> failure(Provider p, const std::string& lang = "auto") {
        try {
            run(p, lang);
        } catch (const AppError& e) {
            return {e.code(), e.what()};
        }
        return {0, "no error"};
    }
    test::RecordedRequest last() { return server->requests().back(); }

    const std::string wav = std::string("RIFF\x24\0\0\0WAVE", 12) + std::string(32, '\x01') + "\r\n--not-a-boundary";
    test::CannedReply reply{200, R"({"text":"привіт світ","language":"xx"})"};
    std::function<test::CannedReply(int)> script;  // replaces `reply`: the reply to the n-th request
    std::atomic<int> served{0};
    std::unique_ptr<test::LoopbackHttpServer> server;
    std::unique_ptr<CloudTranscriber> cloud;
};

TEST_F(CloudTranscriberTest, OpenAIFormSendsTheFileFirstThenTheFieldsInOrder) {
    const WhisperResult r = run(Provider::groq, "uk", "whisper-large-v3");
    EXPECT_EQ(r.text, "привіт світ");
    EXPECT_EQ(r.language, "uk");  // the requested language, never the reply's

    const auto req = last();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/openai/v1/audio/transcriptions");
    EXPECT_EQ(req.header("Authorization"), "Bearer key-groq");
    std::smatch m;
    const std::string type = req.header("Content-Type");
    ASSERT_TRUE(std::regex_match(type, m, std::regex("multipart/form-data; boundary=(Wendaro-[0-9A-F-]{36})")))
        << type;
    const std::string b = m[1];
    const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n" +
                                 "Content-Type: audio/wav\r\n\r\n" + wav + "\r\n" + "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nwhisper-large-v3\r\n" + "--" +
                                 b + "\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\njson\r\n" +
                                 "--" + b + "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nuk\r\n" + "--" +
                                 b + "--\r\n";
    EXPECT_EQ(req.body, expected);

    // "auto": no language field, no language in the result; each call has its own boundary.
    const WhisperResult a = run(Provider::openai, "auto");
    EXPECT_FALSE(a.language.has_value());
    EXPECT_EQ(last().path, "/v1/audio/transcriptions");
    EXPECT_EQ(last().body.find("name=\"language\""), std::string::npos);
    EXPECT_NE(last().header("Content-Type"), type);
}

TEST_F(CloudTranscriberTest, DeepgramGetsTheRawWavAndQueryItemsInOrder) {
    reply.body = R"({"results":{"channels":[{"alternatives":[{"transcript":"hello there"}]}]}})";
    EXPECT_EQ(run(Provider::deepgram, "auto", "nova-3").text, "hello there");
    auto req = last();
    EXPECT_EQ(req.path, "/v1/listen");
    EXPECT_EQ(req.query, "model=nova-3&smart_format=true&punctuate=true&detect_language=true");
    EXPECT_EQ(req.header("Authorization"), "Token key-deepgram");
    EXPECT_EQ(req.header("Content-Type"), "audio/wav");
    EXPECT_EQ(req.body, wav);

    const WhisperResult uk = run(Provider::deepgram, "uk", "nova 2+");
    EXPECT_EQ(last().query, "model=nova%202%2B&smart_format=true&punctuate=true&language=uk");
    EXPECT_EQ(uk.language, "uk");

    reply.body = R"({"results":{"channels":[]}})";
    EXPECT_EQ(run(Provider::deepgram, "en").text, "");
    reply.body = R"({"results":{"channels":[{"alternatives":[]}]}})";
    EXPECT_EQ(run(Provider::deepgram, "en").text, "");
    reply.body = R"({"results":{}})";
    EXPECT_ANY_THROW(run(Provider::deepgram, "en"));
    // Channels and alternatives past the first are held to the same shape.
    reply.body = R"({"results":{"channels":[{"alternatives":[]},{}]}})";
    EXPECT_ANY_THROW(run(Provider::deepgram, "en"));
    reply.body = R"({"results":{"channels":[{"alternatives":[{"transcript":"a"},{"confidence":0.5}]}]}})";
    EXPECT_ANY_THROW(run(Provider::deepgram, "en"));
}

TEST_F(CloudTranscriberTest, ElevenLabsFormUsesItsOwnFieldNames) {
    run(Provider::elevenlabs, "en", "scribe_v1");
    const auto req = last();
    EXPECT_EQ(req.path, "/v1/speech-to-text");
    EXPECT_EQ(req.header("xi-api-key"), "key-elevenlabs");
    EXPECT_NE(req.body.find("name=\"model_id\"\r\n\r\nscribe_v1\r\n"), std::string::npos);
    EXPECT_NE(req.body.find("name=\"language_code\"\r\n\r\nen\r\n"), std::string::npos);
    EXPECT_EQ(req.body.find("response_format"), std::string::npos);
}

TEST_F(CloudTranscriberTest, AMissingOrEmptyKeyMakesNoRequest) {
    Secrets::set(std::nullopt, "groqApiKey");
    EXPECT_EQ(failure(Provider::groq), std::make_pair(10, std::string("No Groq API key — add it in Settings.")));
    test::fakes().keychain.set("app.tovrin.mac.secrets", "mistralApiKey", "");
    EXPECT_EQ(failure(Provider::mistral).first, 10);
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(CloudTranscriberTest, OnlyStatus200Passes) {
    reply = {401, R"({"error":{"message":"Invalid API Key","type":"auth"}})"};
    EXPECT_EQ(failure(Provider::groq), std::make_pair(401, std::string("Groq: Invalid API Key")));
    reply = {422, R"({"detail":"Unsupported audio"})"};
    EXPECT_EQ(failure(Provider::openai), std::make_pair(422, std::string("OpenAI: Unsupported audio")));
    reply = {400, R"({"error":"bad model","message":"ignored"})"};
    EXPECT_EQ(failure(Provider::mistral).second, "Mistral: bad model");
    reply = {401, ""};
    EXPECT_EQ(failure(Provider::groq), std::make_pair(401, std::string("Groq: HTTP 401")));
    reply = {201, R"({"text":"created"})"};
    EXPECT_EQ(failure(Provider::groq).first, 201);
    reply = {204, ""};
    EXPECT_EQ(failure(Provider::elevenlabs), std::make_pair(204, std::string("ElevenLabs: HTTP 204")));
    reply = {500, std::string("\xff\xfe broken", 9)};
    EXPECT_EQ(failure(Provider::deepgram).second, "Deepgram: HTTP 500");
}

// A rate limit that asks for a short pause is waited out once on the main clock; a second refusal,
// or a longer pause, stands with the provider's message.
TEST_F(CloudTranscriberTest, ARateLimitWithAShortPauseIsRetriedOnce) {
    test::CannedReply limited{429, R"({"error":{"message":"Rate limit reached"}})"};
    limited.headers = {{"Retry-After", "2"}};
    script = [&](int n) { return n == 1 ? limited : reply; };
    auto& clock = test::fakes().scheduler;
    const double start = clock.now();
    EXPECT_EQ(run(Provider::groq, "auto").text, "привіт світ");
    EXPECT_EQ(served, 2);
    EXPECT_DOUBLE_EQ(clock.now() - start, 2);
    EXPECT_EQ(server->requests()[1].body, server->requests()[0].body);

    served = 0;
    script = [&](int) { return limited; };
    EXPECT_EQ(failure(Provider::groq), std::make_pair(429, std::string("Groq: Rate limit reached")));
    EXPECT_EQ(served, 2);

    served = 0;
    limited.headers = {{"Retry-After", "30"}};
    EXPECT_EQ(failure(Provider::deepgram).first, 429);
    EXPECT_EQ(served, 1);
}

TEST_F(CloudTranscriberTest, LongBodiesAreCutAtUserPerceivedCharacters) {
    // Each "e" + combining acute and each flag is one character however many code points it has.
    std::string html = "<html>";
    for (int i = 0; i < 250; ++i) html += "e\xCC\x81\xF0\x9F\x87\xBA\xF0\x9F\x87\xA6";  // 506 characters
    reply = {503, html};
    const std::string message = failure(Provider::groq).second;
    const std::string expected = "Groq: " + html.substr(0, 6 + 77 * 11);
    EXPECT_EQ(message, expected);
}

TEST_F(CloudTranscriberTest, RepliesAreDecodedStrictly) {
    reply.body = R"({"transcript":"wrong field"})";
    EXPECT_ANY_THROW(run(Provider::groq, "en"));
    reply.body = R"({"text":42})";
    EXPECT_ANY_THROW(run(Provider::groq, "en"));
    reply.body = "not json";
    try {
        run(Provider::elevenlabs, "en");
        ADD_FAILURE() << "no error";
    } catch (const DecodingError& e) {
        EXPECT_STREQ(e.what(), "The service sent an unreadable reply.");  // never the parser's own text
    }
}

TEST_F(CloudTranscriberTest, ProvidersAndModelsAreListedInOrder) {
    EXPECT_FALSE(CloudTranscriber::providerFromRaw("local"));
    EXPECT_FALSE(CloudTranscriber::providerFromRaw("tovrin"));
    EXPECT_FALSE(CloudTranscriber::providerFromRaw("Groq"));
    std::vector<std::string> firsts;
    for (Provider p : CloudTranscriber::allProviders()) firsts.push_back(CloudTranscriber::models(p).front().first);
    EXPECT_EQ(firsts, (std::vector<std::string>{"whisper-large-v3-turbo", "gpt-4o-transcribe", "voxtral-mini-latest",
                                                "nova-3", "scribe_v1"}));
    EXPECT_EQ(CloudTranscriber::models(Provider::openai)[2].second, "Whisper v2");
}

}  // namespace
