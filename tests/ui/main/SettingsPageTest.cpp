// The Settings page: the readiness probe on the fake clock (every 2 s until the engine answers,
// an 8 s wait while it runs, a fresh start on each provider change, none while hidden), the
// engine's status line in its order of precedence, the rows each provider brings, and every
// control writing its own setting.
#include "state/AppSettings.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudTranscriber.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Defaults.h"
#include "support/Child.h"
#include "support/AsyncWait.h"
#include "support/FakeAccountService.h"
#include "support/FakeEngine.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"
#include "ui/kit/AppIconManager.h"
#include "ui/kit/AppIconPicker.h"
#include "ui/main/CloudKeyField.h"
#include "ui/main/SettingsPage.h"
#include "ui/main/ToggleSwitch.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const QString kStarting = QString::fromUtf8("Starting\u2026");
const QString kLoading = QString::fromUtf8("Loading model\u2026 (first run can take a minute)");
const QString kReadyTurbo = QString::fromUtf8("Ready \u00b7 Large v3 Turbo");

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

class SettingsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        engine = std::make_unique<test::FakeEngine>(true, true);
        service = std::make_unique<test::FakeAccountService>();
        test::fakes().defaults.setString("backendURL", service->baseURL());
        AppSettings::shared().setProvider("groq");
        clock().runPending();
    }
    void TearDown() override {
        page.reset();
        if (BackendClient::shared().isLoggedIn()) test::await(BackendClient::shared().logout());
        service.reset();
        engine.reset();
    }
    platform::FakeScheduler& clock() { return test::fakes().scheduler; }
    SettingsPage& open() {
        page = std::make_unique<SettingsPage>();
        page->resize(820, 900);
        page->show();
        return *page;
    }
    // Lets replies and due calls run without moving the clock.
    void settle(double seconds = 0.05) {
        test::driveUntil([] { return false; }, seconds, 0);
    }
    std::size_t probes() const { return engine->server.readinessProbes(); }

    std::unique_ptr<test::FakeEngine> engine;
    std::unique_ptr<test::FakeAccountService> service;
    std::unique_ptr<SettingsPage> page;
};

TEST_F(SettingsPageTest, TheProbeAsksEveryTwoSecondsAndStopsOnceTheEngineAnswers) {
    SettingsPage& p = open();
    EXPECT_EQ(p.serverOK(), false) << "an engine that is not running is not ready";
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kStarting);
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusOrange);

    clock().advance(1.0);
    EngineManager::shared().startIfPossible();
    ASSERT_TRUE(EngineManager::shared().running());
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kLoading);
    clock().advance(0.9);
    settle();
    EXPECT_EQ(probes(), 0u) << "the next look is due 2 s after the last";
    EXPECT_EQ(p.serverOK(), false);

    clock().advance(0.1);
    ASSERT_TRUE(test::driveUntil([&] { return p.serverOK() == true; }));
    EXPECT_EQ(probes(), 1u);
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kReadyTurbo);
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusGreen);
    EXPECT_FALSE(shown(test::child<QPushButton>(p, "retryButton")));

    for (int i = 0; i < 10; ++i) {
        clock().advance(2);
        settle(0.01);
    }
    EXPECT_EQ(probes(), 1u) << "an engine that answered is not asked again";
}

TEST_F(SettingsPageTest, AnEngineThatDoesNotAnswerInEightSecondsIsAskedAgainTwoSecondsLater) {
    engine->server.setNotReadyProbes(1000000);
    EngineManager::shared().startIfPossible();
    SettingsPage& p = open();
    EXPECT_EQ(p.serverOK(), std::nullopt) << "unknown while the first wait runs";
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kLoading);
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusOrange);

    ASSERT_TRUE(test::driveUntil([&] { return p.serverOK() == false; }, 20, 0.1));
    EXPECT_GE(clock().now(), 8.0 - 1e-9);
    EXPECT_LT(clock().now(), 8.5);
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kLoading);
    const std::size_t firstWindow = probes();
    EXPECT_GT(firstWindow, 1u);

    clock().advance(1.9);
    settle();
    EXPECT_EQ(probes(), firstWindow);
    clock().advance(0.1);
    EXPECT_TRUE(test::driveUntil([&] { return probes() > firstWindow; }, 5, 0));
}

TEST_F(SettingsPageTest, ChangingTheProviderStartsTheProbeAfreshAndTheSameValueDoesNot) {
    SettingsPage& p = open();
    ASSERT_EQ(p.serverOK(), false);
    clock().advance(1.5);

    choose(test::child<QComboBox>(p, "provider"), "local");
    EXPECT_EQ(AppSettings::shared().provider(), "local");
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kStarting);
    settle();  // the engine follows the provider and comes up on its own
    ASSERT_TRUE(EngineManager::shared().running());
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kLoading);

    // The probe that was sleeping when the provider changed is gone: nothing at 2.0 s.
    clock().advance(0.5);
    settle(0.1);
    EXPECT_EQ(p.serverOK(), false);
    clock().advance(1.4);
    settle(0.1);
    EXPECT_EQ(p.serverOK(), false);
    // The new one looks 2 s after its own start.
    clock().advance(0.1);
    ASSERT_TRUE(test::driveUntil([&] { return p.serverOK() == true; }));
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kReadyTurbo);

    AppSettings::shared().setProvider("local");
    EXPECT_EQ(p.serverOK(), true) << "the same provider again does not restart the probe";
    AppSettings::shared().setProvider("openai");
    EXPECT_EQ(p.serverOK(), std::nullopt) << "another provider does";
}

TEST_F(SettingsPageTest, AHiddenPageDoesNotProbeAndShowingItStartsAgain) {
    SettingsPage& p = open();
    ASSERT_EQ(p.serverOK(), false);
    p.hide();
    EngineManager::shared().startIfPossible();
    clock().advance(10);
    settle();
    EXPECT_EQ(probes(), 0u);

    p.show();
    EXPECT_EQ(p.serverOK(), std::nullopt);
    ASSERT_TRUE(test::driveUntil([&] { return p.serverOK() == true; }));
    EXPECT_EQ(probes(), 1u);
}

TEST_F(SettingsPageTest, APageClosedWhileItWaitsForTheEngineIsLeftAlone) {
    engine->server.setNotReadyProbes(3);
    EngineManager::shared().startIfPossible();
    open();
    ASSERT_EQ(page->serverOK(), std::nullopt);
    page.reset();
    // The wait ends (the engine answers) and then the sleeps run out, with no page to tell.
    EXPECT_TRUE(test::driveUntil([&] { return probes() >= 4; }, 10, 0.1));
    clock().advance(30);
    settle();
}

TEST_F(SettingsPageTest, AStoppedEngineWinsTheStatusLineUntilALaterLaunchAnswers) {
    SettingsPage& p = open();
    EngineManager::shared().startIfPossible();
    ASSERT_NE(engine->processes->current, nullptr);
    engine->processes->current->exitWith(3);
    settle();
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), "Engine stopped (code 3)");
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusRed);
    ASSERT_TRUE(shown(test::child<QPushButton>(p, "retryButton")));
    ASSERT_TRUE(shown(test::child<QPushButton>(p, "showLogButton")));

    test::child<QPushButton>(p, "showLogButton")->click();
    EXPECT_EQ(test::fakes().workspace.revealed, (std::vector<std::string>{EngineManager::logURL()}));

    test::child<QPushButton>(p, "retryButton")->click();
    EXPECT_EQ(engine->processes->launches.size(), 2u);
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kLoading);
    EXPECT_FALSE(shown(test::child<QPushButton>(p, "retryButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(p, "showLogButton")));
    // The probe kept going meanwhile and finds the relaunched engine at its next turn.
    clock().advance(2);
    ASSERT_TRUE(test::driveUntil([&] { return p.serverOK() == true; }));
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), kReadyTurbo);

    // A launch that fails is code -1, and it wins over a ready answer from before.
    engine->processes->failLaunch = true;
    EngineManager::shared().startIfPossible();
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), "Engine stopped (code -1)");
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusRed);
}

TEST_F(SettingsPageTest, WithoutAModelTheLinePointsToTheModelsAndAnUnknownModelReadsWhisper) {
    SettingsPage& p = open();
    std::filesystem::remove(ModelManager::shared().modelsDir() + "/ggml-large-v3-turbo.bin");
    ModelManager::shared().rescan();
    ASSERT_TRUE(ModelManager::shared().installed().empty());
    EXPECT_EQ(test::child<QLabel>(p, "engineStatus")->text(), QString::fromUtf8("No model \u2014 download one below"));
    EXPECT_EQ(p.statusColor(), SettingsPage::kStatusOrange);

    ModelManager::shared().setActiveModelID("my-finetune");
    EXPECT_EQ(SettingsPage::activeLocalModelName(), "Whisper");
    ModelManager::shared().setActiveModelID("base");
    EXPECT_EQ(SettingsPage::activeLocalModelName(), "Base");
}

TEST_F(SettingsPageTest, EachProviderBringsItsOwnRows) {
    SettingsPage& p = open();
    QComboBox* provider = test::child<QComboBox>(p, "provider");
    EXPECT_EQ(tags(provider), (std::vector<QString>{"local", "tovrin", "", "groq", "openai", "mistral", "deepgram",
                                                    "elevenlabs"}));
    EXPECT_EQ(provider->itemText(0), QString::fromUtf8("On-device \u2014 private, on this computer"));
    EXPECT_EQ(provider->itemText(1), QString::fromUtf8("Tovrin Cloud \u2014 fast, no setup"));
    EXPECT_EQ(provider->itemText(7), QString::fromUtf8("ElevenLabs \u2014 cloud (your key)"));

    choose(provider, "local");
    EXPECT_TRUE(shown(test::child<QWidget>(p, "localRows")));
    EXPECT_FALSE(shown(test::child<QWidget>(p, "cloudRows")));
    EXPECT_FALSE(shown(test::child<QLabel>(p, "tovrinSignIn")));
    EXPECT_FALSE(shown(test::child<QWidget>(p, "tovrinSignedInRows")));

    choose(provider, "tovrin");
    EXPECT_EQ(test::fakes().defaults.string("provider"), "tovrin");
    EXPECT_FALSE(shown(test::child<QWidget>(p, "localRows")));
    EXPECT_TRUE(shown(test::child<QLabel>(p, "tovrinSignIn"))) << "signed out: only the sign-in caption";
    EXPECT_FALSE(shown(test::child<QWidget>(p, "tovrinSignedInRows")));
    service->addAccount("ann@example.com", "correct horse", 1250);
    test::await(BackendClient::shared().login("ann@example.com", "correct horse"));
    EXPECT_FALSE(shown(test::child<QLabel>(p, "tovrinSignIn")));
    ASSERT_TRUE(shown(test::child<QWidget>(p, "tovrinSignedInRows")));
    EXPECT_EQ(test::child<QLabel>(p, "tovrinAccount")->text(), QString::fromUtf8("ann@example.com \u00b7 1250 credits"));

    choose(provider, "groq");
    ASSERT_TRUE(shown(test::child<QWidget>(p, "cloudRows")));
    EXPECT_FALSE(shown(test::child<QWidget>(p, "tovrinSignedInRows")));
    EXPECT_EQ(test::child<CloudKeyField>(p, "cloudKey")->provider(), "groq");
    EXPECT_EQ(tags(test::child<QComboBox>(p, "cloudModel")),
              (std::vector<QString>{"whisper-large-v3-turbo", "whisper-large-v3", "distil-whisper-large-v3-en"}));
    EXPECT_EQ(test::child<QComboBox>(p, "cloudModel")->currentData().toString(), "whisper-large-v3-turbo");

    // The model choice is stored per provider and announced.
    std::vector<std::string> notices;
    auto listener = std::make_unique<QObject>();
    QObject::connect(&AppSettings::shared(), &AppSettings::changed, listener.get(),
                     [&](AppSettings::Setting setting, const std::string& provider) {
                         notices.push_back(AppSettings::storedKey(setting, provider));
                     });
    choose(test::child<QComboBox>(p, "cloudModel"), "whisper-large-v3");
    listener.reset();
    EXPECT_EQ(test::fakes().defaults.string("model_groq"), "whisper-large-v3");
    EXPECT_EQ(AppSettings::shared().cloudModel("groq"), "whisper-large-v3");
    EXPECT_EQ(notices, (std::vector<std::string>{"model_groq"}));

    choose(provider, "deepgram");
    EXPECT_EQ(test::child<CloudKeyField>(p, "cloudKey")->provider(), "deepgram");
    EXPECT_EQ(tags(test::child<QComboBox>(p, "cloudModel")), (std::vector<QString>{"nova-3", "nova-2"}));
    EXPECT_FALSE(test::fakes().defaults.string("model_deepgram"));
    choose(provider, "groq");
    EXPECT_EQ(test::child<QComboBox>(p, "cloudModel")->currentData().toString(), "whisper-large-v3");

    // A provider from a later version: no item matches and no rows show.
    AppSettings::shared().setProvider("whisperx");
    EXPECT_EQ(provider->currentIndex(), -1);
    EXPECT_FALSE(shown(test::child<QWidget>(p, "localRows")));
    EXPECT_FALSE(shown(test::child<QWidget>(p, "cloudRows")));
    EXPECT_FALSE(shown(test::child<QLabel>(p, "tovrinSignIn")));
    EXPECT_FALSE(shown(test::child<QWidget>(p, "tovrinSignedInRows")));
}

TEST_F(SettingsPageTest, EveryControlWritesItsOwnSetting) {
    SettingsPage& p = open();
    auto& defaults = test::fakes().defaults;

    EXPECT_EQ(test::child<QComboBox>(p, "language")->itemText(1), QString::fromUtf8("\u0423\u043a\u0440\u0430\u0457\u043d\u0441\u044c\u043a\u0430"));
    choose(test::child<QComboBox>(p, "language"), "uk");
    EXPECT_EQ(defaults.string("lang"), "uk");
    EXPECT_EQ(AppSettings::shared().language(), "uk");
    choose(test::child<QComboBox>(p, "widgetSize"), "large");
    EXPECT_EQ(defaults.string("widgetSize"), "large");

    test::child<ToggleSwitch>(p, "launchAtLogin")->click();
    EXPECT_TRUE(test::fakes().loginItem.enabled);
    EXPECT_TRUE(test::child<ToggleSwitch>(p, "launchAtLogin")->isChecked());
    test::child<ToggleSwitch>(p, "showInDock")->click();
    EXPECT_EQ(defaults.object("showInDock"), platform::DefaultsValue(false));
    EXPECT_FALSE(test::fakes().app.regular);
    test::child<ToggleSwitch>(p, "sounds")->click();
    EXPECT_EQ(defaults.object("sounds"), platform::DefaultsValue(false));
    test::child<ToggleSwitch>(p, "pauseOtherAudio")->click();
    EXPECT_EQ(defaults.object("pauseOtherAudio"), platform::DefaultsValue(true));
    test::child<ToggleSwitch>(p, "copyOnly")->click();
    EXPECT_EQ(defaults.object("copyOnly"), platform::DefaultsValue(true));
    EXPECT_TRUE(AppSettings::shared().copyInsteadOfTyping());

    // A login item that cannot be removed leaves the switch showing the real state.
    test::fakes().loginItem.failNext = true;
    test::child<ToggleSwitch>(p, "launchAtLogin")->click();
    EXPECT_TRUE(test::child<ToggleSwitch>(p, "launchAtLogin")->isChecked());

    // Changes made elsewhere show at once.
    AppSettings::shared().setLanguage("en");
    EXPECT_EQ(test::child<QComboBox>(p, "language")->currentData().toString(), "en");
    AppSettings::shared().setSounds(true);
    EXPECT_TRUE(test::child<ToggleSwitch>(p, "sounds")->isChecked());
    EXPECT_EQ(test::child<AppIconPicker>(p, "iconPicker")->selected(), AppIconManager::current());
}

}  // namespace
