// Credit-metered transcription and enhancement through the account service.
#include "BackendFixture.h"

#include "cloud/Enhancer.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

using BackendMeteredTest = BackendFixture;

namespace {
std::string fakeWav(std::size_t samples) {
    std::string wav = "RIFF";
    wav.resize(44 + samples * 2, '\0');
    for (std::size_t i = 44; i < wav.size(); ++i) wav[i] = static_cast<char>(i * 7);
    return wav;
}
}  // namespace

TEST_F(BackendMeteredTest, UploadBodyLaysOutFieldsBeforeTheAudio) {
    const std::string b = "tovrin-B";
    const std::string head = "--tovrin-B\r\nContent-Disposition: form-data; name=\"provider\"\r\n\r\ngroq\r\n"
                             "--tovrin-B\r\nContent-Disposition: form-data; name=\"mode\"\r\n\r\nmanaged\r\n";
    const std::string audio = "--tovrin-B\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"audio.wav\"\r\n"
                              "Content-Type: audio/wav\r\n\r\nWAV\r\n--tovrin-B--\r\n";
    EXPECT_EQ(BackendClient::transcriptionBody(b, "WAV", "auto"), head + audio);
    EXPECT_EQ(BackendClient::transcriptionBody(b, "WAV", "uk"),
              head + "--tovrin-B\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nuk\r\n" + audio);
    // Only exactly "auto" leaves the language out; an empty code is sent.
    EXPECT_NE(BackendClient::transcriptionBody(b, "WAV", "").find("name=\"language\"\r\n\r\n\r\n"), std::string::npos);
    EXPECT_NE(BackendClient::transcriptionBody(b, "WAV", "Auto").find("name=\"language\""), std::string::npos);
}

TEST_F(BackendMeteredTest, TranscriptionUploadsMultipartAndAppliesTheNewBalance) {
    signIn(100);
    const std::string wav = fakeWav(16000);
    const WhisperResult result = test::await(client->transcribeRemote(wav, "uk"));
    EXPECT_EQ(result.text, "heard " + std::to_string(wav.size()) + " bytes");
    EXPECT_EQ(result.language, "uk");
    EXPECT_EQ(client->user()->creditBalance, 98);

    const auto sent = service->requestsTo("stt/transcribe").at(0);
    const std::string type = sent.header("Content-Type");
    ASSERT_EQ(type.rfind("multipart/form-data; boundary=tovrin-", 0), 0u) << type;
    EXPECT_EQ(type.size(), std::string("multipart/form-data; boundary=tovrin-").size() + 36);  // a UUID
    EXPECT_EQ(sent.header("Idempotency-Key").rfind("stt-", 0), 0u);
    ASSERT_EQ(sent.parts.size(), 4u);
    EXPECT_EQ(sent.parts[0].name, "provider");
    EXPECT_EQ(sent.parts[0].content, "groq");
    EXPECT_EQ(sent.parts[1].name, "mode");
    EXPECT_EQ(sent.parts[1].content, "managed");
    EXPECT_EQ(sent.parts[2].name, "language");
    EXPECT_EQ(sent.parts[2].content, "uk");
    EXPECT_EQ(sent.parts[3].name, "audio");
    EXPECT_EQ(sent.parts[3].filename, "audio.wav");
    EXPECT_EQ(sent.parts[3].contentType, "audio/wav");
    EXPECT_EQ(sent.parts[3].content, wav);

    const WhisperResult detected = test::await(client->transcribeRemote(wav, "auto"));
    EXPECT_FALSE(detected.language);
    const auto second = service->requestsTo("stt/transcribe").at(1);
    EXPECT_EQ(second.parts.size(), 3u);
    EXPECT_NE(second.header("Idempotency-Key"), sent.header("Idempotency-Key"));
    EXPECT_NE(second.header("Content-Type"), type);  // a new boundary per upload
}

TEST_F(BackendMeteredTest, EnhancementSendsTheSharedPromptAndAppliesTheBalance) {
    signIn(1);
    const std::string text = test::await(client->enhanceRemote("so um hello", "Fix it.", "uk"));
    EXPECT_EQ(text, "Enhanced: so um hello");
    EXPECT_EQ(client->user()->creditBalance, 0);  // a balance of 0 is applied too

    const auto sent = service->requestsTo("enhance").at(0);
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.header("Idempotency-Key").rfind("enh-", 0), 0u);
    EXPECT_EQ(json::parse(sent.body), (json{{"text", "so um hello"},
                                            {"template", "custom"},
                                            {"customPrompt", Enhancer::systemPrompt("Fix it.", "uk")},
                                            {"provider", "groq"},
                                            {"mode", "managed"}}));

    const auto e = backendError(client->enhanceRemote("again", "Fix it.", "uk"));
    EXPECT_EQ(e.code(), "INSUFFICIENT_CREDITS");
    EXPECT_EQ(client->user()->creditBalance, 0);
}

TEST_F(BackendMeteredTest, TheRetryAfterARenewalRepeatsTheSameIdempotencyKey) {
    signIn(100);
    service->expireAccessTokens();
    EXPECT_EQ(test::await(client->enhanceRemote("hi", "Fix it.", "en")), "Enhanced: hi");
    service->expireAccessTokens();
    test::await(client->transcribeRemote(fakeWav(10), "en"));

    for (const char* path : {"enhance", "stt/transcribe"}) {
        const auto sent = service->requestsTo(path);
        ASSERT_EQ(sent.size(), 2u) << path;
        EXPECT_EQ(sent[0].header("Idempotency-Key"), sent[1].header("Idempotency-Key")) << path;
        EXPECT_NE(sent[0].header("Authorization"), sent[1].header("Authorization")) << path;
        EXPECT_EQ(sent[0].body, sent[1].body) << path;
    }
    EXPECT_EQ(service->count("auth/refresh"), 2);
    EXPECT_EQ(client->user()->creditBalance, 97);
}

TEST_F(BackendMeteredTest, AReplyAfterSignOutReturnsItsTextWithoutRestoringTheUser) {
    signIn(100);
    service->setDelay("enhance", 150);
    auto enhancing = test::watch(client->enhanceRemote("late", "Fix it.", "en"));
    test::await(client->logout());
    ASSERT_TRUE(test::pumpUntil([&] { return enhancing->done; }));
    EXPECT_FALSE(enhancing->error);
    EXPECT_EQ(enhancing->value, "Enhanced: late");
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(BackendMeteredTest, FailuresLeaveTheBalanceAlone) {
    signIn(100);
    service->scriptReply("stt/transcribe", 200, R"({"creditBalance":5})");  // no transcription
    EXPECT_THROW(test::await(client->transcribeRemote(fakeWav(10), "en")), std::exception);
    service->scriptReply("enhance", 502, "bad gateway");
    EXPECT_EQ(backendError(client->enhanceRemote("x", "Fix it.", "en")).code(), "http_502");
    EXPECT_EQ(client->user()->creditBalance, 100);
}
