// The rewrite with the user's own key, against a loopback chat-completion endpoint.
#include "state/AppError.h"
#include "state/Secrets.h"
#include "cloud/DecodingError.h"
#include "cloud/Enhancer.h"
#include "support/FakeChatProvider.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using nlohmann::json;
using Provider = Enhancer::Provider;

class EnhancerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        for (Provider p : Enhancer::allProviders()) {
            const std::string path = p == Provider::groq ? "/openai/v1/chat/completions" : "/v1/chat/completions";
            enhancer.setEndpoint(p, provider.url(path));
        }
        Secrets::set("gsk-test", "groqApiKey");
    }

    std::string enhance(const std::string& text, Provider p = Provider::groq) {
        return test::await(enhancer.enhance(text, p, "llama-3.3-70b-versatile", "Fix it.", "en"));
    }
    // The AppError the call ends with.
    AppError failure(Provider p = Provider::groq) {
        try {
            enhance("text", p);
        } catch (const AppError& e) {
            return e;
        }
        ADD_FAILURE() << "expected an AppError";
        return AppError(0, "");
    }

    test::FakeChatProvider provider;
    Enhancer enhancer;
};

TEST_F(EnhancerTest, PromptPicksTheLanguageSentenceByExactCode) {
    const std::string tail = " Output ONLY the resulting text with no preamble, no quotes and no explanation.";
    EXPECT_EQ(Enhancer::systemPrompt("Fix it.", "uk"),
              "Fix it.\n\nThe dictation is in Ukrainian. Keep the output in Ukrainian. If it contains English "
              "words or technical terms, keep those exact words in English — never translate them." + tail);
    EXPECT_EQ(Enhancer::systemPrompt("Fix it.", "en"),
              "Fix it.\n\nThe dictation is in English. Keep the output in English." + tail);
    const std::string detect =
        "Fix it.\n\nDetect the language. It is usually Ukrainian and may contain English words or technical terms "
        "mixed in — keep the Ukrainian parts in Ukrainian and the English words in English. Never translate "
        "between the two." + tail;
    EXPECT_EQ(Enhancer::systemPrompt("Fix it.", "auto"), detect);
    EXPECT_EQ(Enhancer::systemPrompt("Fix it.", "de"), detect);
    EXPECT_EQ(Enhancer::systemPrompt("Fix it.", "EN"), detect);
}

TEST_F(EnhancerTest, InstructionFallsBackToTheCleanUpPreset) {
    const std::string cleanup = Enhancer::modes().front().instruction;
    ASSERT_EQ(Enhancer::modes().front().id, "cleanup");
    EXPECT_EQ(Enhancer::resolveInstruction("custom", ""), cleanup);
    EXPECT_EQ(Enhancer::resolveInstruction("custom", "Make it rhyme."), "Make it rhyme.");
    EXPECT_EQ(Enhancer::resolveInstruction("email", "ignored"), Enhancer::modes().at(1).instruction);
    EXPECT_EQ(Enhancer::resolveInstruction("gone", ""), cleanup);
}

TEST_F(EnhancerTest, RequestCarriesTheKeyModelTemperatureAndTwoMessages) {
    provider.setContent("Hello, world.");
    EXPECT_EQ(test::await(enhancer.enhance("hello world", Provider::groq, "llama-3.1-8b-instant", "Fix it.", "uk")),
              "Hello, world.");
    ASSERT_EQ(provider.requests().size(), 1u);
    const auto sent = provider.requests()[0];
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/openai/v1/chat/completions");
    EXPECT_EQ(sent.header("Authorization"), "Bearer gsk-test");
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    const json body = json::parse(sent.body);
    EXPECT_EQ(body, (json{{"model", "llama-3.1-8b-instant"},
                          {"temperature", 0.3},
                          {"messages",
                           {{{"role", "system"}, {"content", Enhancer::systemPrompt("Fix it.", "uk")}},
                            {{"role", "user"}, {"content", "hello world"}}}}}));
    EXPECT_TRUE(body["temperature"].is_number_float());

    Secrets::set("sk-mistral", "mistralApiKey");
    enhance("x", Provider::mistral);
    EXPECT_EQ(provider.requests().back().path, "/v1/chat/completions");
    EXPECT_EQ(provider.requests().back().header("Authorization"), "Bearer sk-mistral");
}

TEST_F(EnhancerTest, NoKeyMeansNoRequest) {
    auto e = failure(Provider::openai);
    EXPECT_EQ(e.domain(), "Wendaro");
    EXPECT_EQ(e.code(), 20);
    EXPECT_STREQ(e.what(), "No OpenAI key for enhancement.");
    test::fakes().keychain.set(Secrets::kService, "mistralApiKey", "");
    EXPECT_EQ(failure(Provider::mistral).code(), 20);
    EXPECT_TRUE(provider.requests().empty());
}

TEST_F(EnhancerTest, AnyStatusButExactly200FailsWithTheStatusAlone) {
    provider.setReply(401, R"({"error":{"message":"Invalid API Key","type":"invalid_request_error"}})");
    auto e = failure();
    EXPECT_EQ(e.code(), 401);
    EXPECT_STREQ(e.what(), "Groq enhancement HTTP 401");
    provider.setReply(201, R"({"choices":[{"message":{"content":"created"}}]})");
    EXPECT_EQ(failure().code(), 201);
    provider.setReply(429, "");
    EXPECT_STREQ(failure().what(), "Groq enhancement HTTP 429");
}

TEST_F(EnhancerTest, BlankOrMissingContentKeepsTheInput) {
    provider.setContent("  \n\t Tidy text.\r\n ");
    EXPECT_EQ(enhance("raw"), "Tidy text.");
    provider.setContent(" \n\t\r\n  ");
    EXPECT_EQ(enhance("raw"), "raw");
    provider.setContent("\xC2\xA0\xE2\x80\xA8");  // a no-break space and a line separator
    EXPECT_EQ(enhance("raw"), "raw");
    provider.setReply(200, R"({"choices":[]})");
    EXPECT_EQ(enhance("raw"), "raw");
    provider.setReply(200, R"({"choices":[{"message":{"content":"first"}},{"message":{"content":"second"}}]})");
    EXPECT_EQ(enhance("raw"), "first");
}

TEST_F(EnhancerTest, RepliesOfAnotherShapeAreDecodingErrors) {
    for (const char* body : {"not json", "{}", R"({"choices":{}})", R"({"choices":[{"message":{}}]})",
                             R"({"choices":[{"message":{"content":null}}]})",
                             R"({"choices":[{"message":{"content":"ok"}},{"text":"x"}]})"}) {
        provider.setReply(200, body);
        EXPECT_THROW(enhance("raw"), DecodingError) << body;
    }
}

TEST_F(EnhancerTest, EndpointsDefaultToTheProvidersPublicHosts) {
    Enhancer plain;
    EXPECT_EQ(plain.endpointFor(Provider::groq), "https://api.groq.com/openai/v1/chat/completions");
    EXPECT_EQ(plain.endpointFor(Provider::openai), "https://api.openai.com/v1/chat/completions");
    EXPECT_EQ(plain.endpointFor(Provider::mistral), "https://api.mistral.ai/v1/chat/completions");
}
