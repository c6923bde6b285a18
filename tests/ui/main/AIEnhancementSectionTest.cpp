// The key field and the AI enhancement group: keys stored trimmed under "<provider>ApiKey" and
// removed when blank, the hint lines, the account note by key and sign-in, and every control
// writing its own setting.
#include "state/AppSettings.h"
#include "state/Secrets.h"
#include "cloud/BackendFixture.h"
#include "cloud/Enhancer.h"
#include "platform/Defaults.h"
#include "support/Child.h"
#include "ui/main/AIEnhancementSection.h"
#include "ui/main/CloudKeyField.h"
#include "ui/main/ToggleSwitch.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <string>
#include <vector>

namespace {

std::optional<std::string> keychainItem(const std::string& provider) {
    return test::fakes().keychain.get(Secrets::kService, provider + "ApiKey");
}

// Picks the item tagged `tag` the way a user does.
void choose(QComboBox* combo, const QString& tag) {
    const int index = combo->findData(tag);
    ASSERT_GE(index, 0) << tag.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

std::vector<QString> tags(QComboBox* combo) {
    std::vector<QString> out;
    for (int i = 0; i < combo->count(); ++i) out.push_back(combo->itemData(i).toString());
    return out;
}

bool shown(QWidget* w) { return !w->isHidden(); }

// Records the keys of the settings' change notices while it lives.
struct Notices : QObject {
    std::vector<std::string> keys;
    Notices() {
        connect(&AppSettings::shared(), &AppSettings::changed, this,
                [this](AppSettings::Setting setting, const std::string& provider) {
                    keys.push_back(AppSettings::storedKey(setting, provider));
                });
    }
};

using CloudKeyFieldTest = BackendFixture;

TEST_F(CloudKeyFieldTest, SavingStoresTheTrimmedKeyAndABlankKeyRemovesIt) {
    CloudKeyField field("groq");
    EXPECT_EQ(test::child<QLineEdit>(field, "apiKey")->placeholderText(), "Groq API key");
    EXPECT_EQ(test::child<QLineEdit>(field, "apiKey")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field.key(), "");
    EXPECT_FALSE(test::child<QPushButton>(field, "saveKey")->isEnabled()) << "nothing to save";
    EXPECT_EQ(field.hintText(), "Get a key at console.groq.com/keys (free)");

    Notices notices;
    field.setKey("  gsk_live_123\n\t");
    ASSERT_TRUE(test::child<QPushButton>(field, "saveKey")->isEnabled());
    test::child<QPushButton>(field, "saveKey")->click();
    EXPECT_EQ(keychainItem("groq"), "gsk_live_123");
    EXPECT_TRUE(field.saved());
    EXPECT_EQ(field.hintText(), "Key saved");
    EXPECT_EQ(notices.keys, (std::vector<std::string>{"groqApiKey"}));
    EXPECT_FALSE(keychainItem("openai")) << "other providers keep theirs";

    // Blanks only: trimmed to nothing, so the stored key goes and the hint points to the page again.
    field.setKey(" \n ");
    ASSERT_TRUE(test::child<QPushButton>(field, "saveKey")->isEnabled());
    test::child<QPushButton>(field, "saveKey")->click();
    EXPECT_FALSE(keychainItem("groq"));
    EXPECT_EQ(field.hintText(), "Get a key at console.groq.com/keys (free)");
}

TEST_F(CloudKeyFieldTest, ChangingTheProviderReloadsItsKeyAndDropsUnsavedEdits) {
    const std::vector<std::pair<std::string, QString>> pages = {
        {"groq", "Get a key at console.groq.com/keys (free)"},
        {"openai", "Get a key at platform.openai.com/api-keys"},
        {"mistral", "Get a key at console.mistral.ai/api-keys"},
        {"deepgram", "Get a key at console.deepgram.com (free credits)"},
        {"elevenlabs", QString::fromUtf8("Get a key at elevenlabs.io \u2192 API keys")},
    };
    for (const auto& [id, hint] : pages) {
        CloudKeyField f(id);
        EXPECT_EQ(f.hintText(), hint) << id;
    }
    test::fakes().keychain.set(Secrets::kService, "mistralApiKey", "ms-key");
    CloudKeyField field("groq");
    field.setKey("typed but not saved");
    field.setProvider("mistral");
    EXPECT_EQ(field.key(), "ms-key");
    EXPECT_EQ(test::child<QLineEdit>(field, "apiKey")->placeholderText(), "Mistral API key");
    EXPECT_EQ(field.hintText(), "Key saved");
    field.setProvider("groq");
    EXPECT_EQ(field.key(), "") << "the edit was never saved";
    EXPECT_FALSE(keychainItem("groq"));

    // A key saved through another field for the same provider shows here at once.
    CloudKeyField other("groq");
    other.setKey("gsk_2");
    other.save();
    EXPECT_EQ(field.hintText(), "Key saved");

    CloudKeyField unknown("whisperx");
    EXPECT_EQ(unknown.hintText(), "") << "no hint for an id outside the five";
}

class AIEnhancementSectionTest : public BackendFixture {
protected:
    void SetUp() override {
        BackendFixture::SetUp();
        section = std::make_unique<AIEnhancementSection>(*client);
    }
    void TearDown() override {
        section.reset();
        BackendFixture::TearDown();
    }
    std::unique_ptr<AIEnhancementSection> section;
};

TEST_F(AIEnhancementSectionTest, OffShowsOnlyTheSwitchAndItsCaption) {
    EXPECT_FALSE(test::child<ToggleSwitch>(section, "aiEnhance")->isChecked());
    EXPECT_FALSE(shown(test::child<QWidget>(section, "enhanceDetails")));
    test::child<ToggleSwitch>(section, "aiEnhance")->click();
    EXPECT_TRUE(AppSettings::shared().aiEnhanceEnabled());
    EXPECT_EQ(test::fakes().defaults.object("aiEnhance"), platform::DefaultsValue(true));
    EXPECT_TRUE(shown(test::child<QWidget>(section, "enhanceDetails")));
    test::child<ToggleSwitch>(section, "aiEnhance")->click();
    EXPECT_FALSE(AppSettings::shared().aiEnhanceEnabled());
    EXPECT_FALSE(shown(test::child<QWidget>(section, "enhanceDetails")));
}

TEST_F(AIEnhancementSectionTest, TheNoteFollowsTheProvidersKeyAndTheSignIn) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    const QString signInNote = QString::fromUtf8(
        "Sign in (Account above) for zero-setup AI \u2014 trial accounts get 3000 credits. Or add your own provider key "
        "below.");
    EXPECT_EQ(section->noteText(), signInNote);
    EXPECT_EQ(test::child<QLabel>(section, "enhanceNote")->text(), signInNote);
    EXPECT_TRUE(shown(test::child<QLabel>(section, "enhanceNote")));

    signIn(0);
    const QString account = QString::fromUtf8(
        "Works through your Tovrin account \u2014 no keys needed (3 credits per enhancement, 0 left). Add your own key "
        "below to use it instead.");
    EXPECT_EQ(test::child<QLabel>(section, "enhanceNote")->text(), account);

    // A Groq key saved in the transcription group serves here too: the note goes.
    CloudKeyField elsewhere("groq");
    elsewhere.setKey("gsk_1");
    elsewhere.save();
    EXPECT_EQ(section->noteText(), "");
    EXPECT_FALSE(shown(test::child<QLabel>(section, "enhanceNote")));
    EXPECT_EQ(test::child<CloudKeyField>(section, "enhanceKey")->hintText(), "Key saved");

    // The note is about the chosen provider's key.
    choose(test::child<QComboBox>(section, "enhanceProvider"), "openai");
    EXPECT_EQ(test::child<QLabel>(section, "enhanceNote")->text(), account);
}

TEST_F(AIEnhancementSectionTest, StyleAndCustomInstructionAreWrittenAndThePromptStaysWhenHidden) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    std::vector<QString> expected;
    for (const auto& m : Enhancer::modes()) expected.push_back(QString::fromStdString(m.id));
    expected.push_back("custom");
    EXPECT_EQ(tags(test::child<QComboBox>(section, "enhanceMode")), expected);
    EXPECT_EQ(test::child<QComboBox>(section, "enhanceMode")->itemText(test::child<QComboBox>(section, "enhanceMode")->count() - 1), "Custom prompt");
    EXPECT_EQ(test::child<QComboBox>(section, "enhanceMode")->currentData().toString(), "cleanup");
    EXPECT_FALSE(shown(test::child<QPlainTextEdit>(section, "customInstruction")));

    choose(test::child<QComboBox>(section, "enhanceMode"), "custom");
    EXPECT_EQ(AppSettings::shared().enhanceMode(), "custom");
    ASSERT_TRUE(shown(test::child<QPlainTextEdit>(section, "customInstruction")));
    EXPECT_EQ(test::child<QPlainTextEdit>(section, "customInstruction")->placeholderText(),
              QString::fromUtf8("Custom instruction (e.g. \u201ctranslate to formal English\u201d)"));
    test::child<QPlainTextEdit>(section, "customInstruction")->setPlainText("Answer as a pirate");
    EXPECT_EQ(AppSettings::shared().customEnhanceInstruction(), "Answer as a pirate");
    EXPECT_EQ(test::fakes().defaults.string("customEnhanceInstruction"), "Answer as a pirate");

    const QString preset = QString::fromStdString(Enhancer::modes().back().id);
    choose(test::child<QComboBox>(section, "enhanceMode"), preset);
    EXPECT_EQ(AppSettings::shared().enhanceMode(), preset.toStdString());
    EXPECT_FALSE(shown(test::child<QPlainTextEdit>(section, "customInstruction")));
    EXPECT_EQ(AppSettings::shared().customEnhanceInstruction(), "Answer as a pirate");
}

TEST_F(AIEnhancementSectionTest, ProviderAndModelPickersWriteTheirKeys) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    test::fakes().keychain.set(Secrets::kService, "mistralApiKey", "ms-key");
    EXPECT_EQ(tags(test::child<QComboBox>(section, "enhanceProvider")), (std::vector<QString>{"groq", "openai", "mistral"}));
    EXPECT_EQ(test::child<QComboBox>(section, "enhanceProvider")->itemText(1), "OpenAI");
    EXPECT_EQ(test::child<CloudKeyField>(section, "enhanceKey")->provider(), "groq");
    test::child<CloudKeyField>(section, "enhanceKey")->setKey("unsaved groq key");

    choose(test::child<QComboBox>(section, "enhanceProvider"), "mistral");
    EXPECT_EQ(AppSettings::shared().enhanceProvider(), "mistral");
    EXPECT_EQ(test::child<CloudKeyField>(section, "enhanceKey")->provider(), "mistral");
    EXPECT_EQ(test::child<CloudKeyField>(section, "enhanceKey")->key(), "ms-key");
    std::vector<QString> models;
    for (const auto& [id, label] : Enhancer::models(Enhancer::Provider::mistral)) models.push_back(QString::fromStdString(id));
    ASSERT_EQ(tags(test::child<QComboBox>(section, "enhanceModel")), models);
    EXPECT_EQ(test::child<QComboBox>(section, "enhanceModel")->currentData().toString().toStdString(),
              AppSettings::shared().enhanceModel("mistral"));

    ASSERT_GE(models.size(), 2u);
    Notices notices;
    choose(test::child<QComboBox>(section, "enhanceModel"), models[1]);
    EXPECT_EQ(test::fakes().defaults.string("enhModel_mistral"), models[1].toStdString());
    EXPECT_EQ(AppSettings::shared().enhanceModel("mistral"), models[1].toStdString());
    EXPECT_EQ(notices.keys, (std::vector<std::string>{"enhModel_mistral"}));
    EXPECT_FALSE(test::fakes().defaults.string("enhModel_groq"));

    // A provider from elsewhere (a later version) has no key field and no models.
    AppSettings::shared().setEnhanceProvider("anthropic");
    EXPECT_FALSE(shown(test::child<QWidget>(section, "enhanceProviderRows")));
    EXPECT_EQ(test::child<QComboBox>(section, "enhanceProvider")->currentIndex(), -1);
    choose(test::child<QComboBox>(section, "enhanceProvider"), "groq");
    EXPECT_TRUE(shown(test::child<QWidget>(section, "enhanceProviderRows")));
    EXPECT_EQ(test::child<CloudKeyField>(section, "enhanceKey")->key(), "") << "the unsaved groq key was dropped";
}

}  // namespace
