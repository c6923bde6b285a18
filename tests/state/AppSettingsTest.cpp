#include "state/AppSettings.h"
#include "state/ProviderModels.h"
#include "state/Secrets.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { test::reset(); }
    AppSettings& settings() { return AppSettings::shared(); }
};

TEST_F(AppSettingsTest, FreshInstallReadsTheDefaults) {
    EXPECT_EQ(settings().provider(), "tovrin");
    EXPECT_EQ(settings().language(), "auto");
    EXPECT_TRUE(settings().sounds());
    EXPECT_EQ(settings().pttKeyCode(), 63);
    EXPECT_EQ(settings().cancelKeyCode(), 54);
    EXPECT_EQ(settings().widgetSize(), "small");
    EXPECT_TRUE(settings().showInDock());
    EXPECT_TRUE(settings().applyDictionary());
    EXPECT_FALSE(settings().copyInsteadOfTyping());
    EXPECT_FALSE(settings().aiEnhanceEnabled());
}

TEST_F(AppSettingsTest, ValuesOfTheWrongTypeFallBackToTheDefault) {
    auto& d = test::fakes().defaults;
    d.setString("sounds", "no");
    d.setString("pttKeyCode", "62");
    d.setDouble("cancelKeyCode", 61.0);
    d.setInt("showInDock", 0);
    settings().reload();
    EXPECT_TRUE(settings().sounds());
    EXPECT_EQ(settings().pttKeyCode(), 63);
    EXPECT_EQ(settings().cancelKeyCode(), 54);
    EXPECT_TRUE(settings().showInDock());
}

TEST_F(AppSettingsTest, ChangesAreStoredWithTheirSideEffects) {
    settings().setProvider("local");
    EXPECT_EQ(test::fakes().defaults.string("provider"), "local");
    settings().setPttKeyCode(62);
    EXPECT_EQ(test::fakes().defaults.integer("pttKeyCode"), 62);
    settings().setShowInDock(false);
    EXPECT_FALSE(test::fakes().app.regular);
    settings().setCopyInsteadOfTyping(true);
    EXPECT_TRUE(test::fakes().defaults.boolean("copyOnly"));
    settings().reload();
    EXPECT_EQ(settings().provider(), "local");
    EXPECT_EQ(settings().pttKeyCode(), 62);
    EXPECT_TRUE(settings().copyInsteadOfTyping());
}

TEST_F(AppSettingsTest, TheRouteIsParsedFromTheStoredProviderWhichKeepsItsValue) {
    std::vector<std::string> values = {"local", "tovrin"};
    for (const auto& e : ProviderModels::all()) values.push_back(e.identifier);
    for (const auto& v : values) {
        settings().setProvider(v);
        settings().reload();
        EXPECT_EQ(test::fakes().defaults.string("provider"), v);
        EXPECT_EQ(settings().route().stored(), v) << v;
        EXPECT_NE(settings().route().kind(), Route::Kind::unknown) << v;
    }

    // A value a later version wrote, or one in another case: no route of ours, and the stored
    // value stays as it was.
    for (const std::string v : {"whisperx", "Groq", ""}) {
        test::fakes().defaults.setString("provider", v);
        settings().reload();
        EXPECT_EQ(settings().route().kind(), Route::Kind::unknown) << v;
        EXPECT_FALSE(settings().route().cloudProvider()) << v;
        EXPECT_EQ(settings().provider(), v);
        EXPECT_EQ(test::fakes().defaults.string("provider"), v);
    }
}

TEST_F(AppSettingsTest, ApiKeysAreTrimmedAndBlankKeysRemoved) {
    settings().setAPIKey("  gsk_123 \n", "groq");
    EXPECT_EQ(test::fakes().keychain.get("app.tovrin.mac.secrets", "groqApiKey"), "gsk_123");
    EXPECT_EQ(Secrets::get("groqApiKey"), "gsk_123");
    settings().setAPIKey("   ", "groq");
    EXPECT_FALSE(test::fakes().keychain.get("app.tovrin.mac.secrets", "groqApiKey").has_value());

    // A key copied from a web page: no-break and ideographic spaces, a line separator, a tab.
    settings().setAPIKey("\u00A0\tsk-\u00E9t\u00E9 9\u3000\u2028\r\n", "openai");
    EXPECT_EQ(Secrets::get("openaiApiKey"), "sk-\u00E9t\u00E9 9");
    settings().setAPIKey("\u00A0\u2029\u0085 ", "openai");
    EXPECT_FALSE(Secrets::get("openaiApiKey").has_value());
}

TEST_F(AppSettingsTest, ModelChoicesFallBackToEachProvidersFirstModel) {
    EXPECT_EQ(settings().cloudModel("groq"), "whisper-large-v3-turbo");
    EXPECT_EQ(settings().cloudModel("deepgram"), "nova-3");
    EXPECT_EQ(settings().cloudModel("local"), "");
    EXPECT_EQ(settings().enhanceModel("openai"), "gpt-4o-mini");
    EXPECT_EQ(settings().enhanceModel("deepgram"), "");
    test::fakes().defaults.setString("model_groq", "whisper-large-v3");
    EXPECT_EQ(settings().cloudModel("groq"), "whisper-large-v3");
}

TEST_F(AppSettingsTest, AFailedLoginRegistrationShowsTheRealState) {
    test::fakes().loginItem.failNext = true;
    settings().setLaunchAtLogin(true);
    EXPECT_FALSE(settings().launchAtLogin());
    EXPECT_EQ(test::fakes().loginItem.calls, 1);
}

}  // namespace
