#include "app/AppDelegate.h"

#include "state/AppSettings.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/DesktopNotifier.h"
#include "platform/StatusItem.h"
#include "platform/Updater.h"
#include "support/DictationFakes.h"
#include "support/TestEnvironment.h"
#include "ui/main/MainWindow.h"
#include "ui/main/MainWindowController.h"

#include <gtest/gtest.h>

namespace {

using State = DictationController::State;

struct FakeStatusItem : platform::StatusItem {
    std::string sym, description;
    std::shared_ptr<platform::Menu> menu;
    void setSymbol(const std::string& s, const std::string& d) override {
        sym = s;
        description = d;
    }
    void setMenu(std::shared_ptr<platform::Menu> m) override { menu = std::move(m); }
    const std::string& symbol() const override { return sym; }
};

struct FakeStatusBar : platform::StatusBar {
    FakeStatusItem* last = nullptr;
    bool available = true;
    bool isAvailable() const override { return available; }
    std::unique_ptr<platform::StatusItem> makeStatusItem() override {
        auto item = std::make_unique<FakeStatusItem>();
        last = item.get();
        return item;
    }
};

struct FakeNotifier : platform::DesktopNotifier {
    std::vector<std::string> shown;
    void notify(const std::string& title, const std::string& body) override { shown.push_back(title + ": " + body); }
};

struct FakeHotkey : HotkeyMonitor {
    int starts = 0;
    std::vector<bool> swallow;
    void start() override { ++starts; }
    void setEscSwallow(bool on) override { swallow.push_back(on); }
};

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::StatusBar::setSystem(&bar);
        platform::DesktopNotifier::setShared(&notifier);
        DictationController::Parts parts;
        auto r = std::make_unique<test::FakeRecorder>();
        auto w = std::make_unique<test::FakeWidget>();
        auto i = std::make_unique<test::FakeInjector>();
        recorder = r.get();
        widget = w.get();
        parts.recorder = std::move(r);
        parts.widget = std::move(w);
        parts.injector = std::move(i);
        parts.transcriber = std::make_unique<test::FakeTranscriber>();
        AppDelegate::Parts delegateParts;
        delegateParts.controller = std::make_unique<DictationController>(std::move(parts));
        auto h = std::make_unique<FakeHotkey>();
        hotkey = h.get();
        delegateParts.hotkey = std::move(h);
        delegate = std::make_unique<AppDelegate>(std::move(delegateParts));
        delegate->applicationDidFinishLaunching();
        clock().runPending();
    }
    void TearDown() override {
        delegate.reset();
        platform::StatusBar::setSystem(nullptr);
        platform::DesktopNotifier::setShared(nullptr);
    }
    platform::FakeScheduler& clock() { return test::fakes().scheduler; }
    State state() { return delegate->controller().state(); }

    // A press of the push-to-talk key held for `seconds`.
    void press(double seconds) {
        hotkey->onFnDown();
        clock().advance(seconds);
        hotkey->onFnUp(seconds);
    }

    FakeStatusBar bar;
    FakeNotifier notifier;
    FakeHotkey* hotkey = nullptr;
    test::FakeRecorder* recorder = nullptr;
    test::FakeWidget* widget = nullptr;
    std::unique_ptr<AppDelegate> delegate;
};

std::vector<std::string> titles(const platform::Menu& menu) {
    std::vector<std::string> out;
    for (const auto& item : menu.items) out.push_back(item->separator ? "-" : item->title + "|" + item->keyEquivalent);
    return out;
}

TEST_F(AppDelegateTest, LaunchBuildsTheTrayMenuAndStartsTheKeys) {
    ASSERT_NE(bar.last, nullptr);
    EXPECT_EQ(bar.last->sym, "mic");
    EXPECT_EQ(bar.last->description, "Wendaro");
    ASSERT_TRUE(bar.last->menu);
    EXPECT_EQ(titles(*bar.last->menu),
              (std::vector<std::string>{"Open Tovrin|o", "History|h", "Setup & Models…|", "-", "Start Dictation|", "-",
                                        "Language|", "-", "Check for Updates…|", "Report a Bug…|", "-",
                                        "Quit Tovrin|q"}));
    const auto& languages = *bar.last->menu->items[6]->submenu;
    EXPECT_EQ(titles(languages), (std::vector<std::string>{"Auto-detect|", "Українська|", "English|"}));
    EXPECT_TRUE(languages.items[0]->checked);
    EXPECT_FALSE(languages.items[1]->checked);
    EXPECT_EQ(hotkey->starts, 1);
    EXPECT_TRUE(test::fakes().app.dark);
    EXPECT_TRUE(test::fakes().app.regular);
    clock().advance(60);
    EXPECT_TRUE(notifier.shown.empty()) << "a tray host runs";
}

TEST_F(AppDelegateTest, PickingALanguageStoresItAndMovesTheCheck) {
    const auto& languages = *bar.last->menu->items[6]->submenu;
    languages.items[1]->action();
    EXPECT_EQ(test::fakes().defaults.string("lang"), "uk");
    int checked = 0;
    for (const auto& item : languages.items) checked += item->checked;
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(languages.items[1]->checked);

    // A language chosen elsewhere (the Settings page) moves the tray's check as well.
    AppSettings::shared().setLanguage("en");
    EXPECT_FALSE(languages.items[1]->checked);
    EXPECT_TRUE(languages.items[2]->checked);

    // A delegate that is gone no longer follows the setting.
    const auto english = languages.items[2];
    delegate.reset();
    AppSettings::shared().setLanguage("auto");
    EXPECT_TRUE(english->checked);
}

TEST_F(AppDelegateTest, TheToggleItemAndTheDockMenuFollowTheState) {
    auto toggle = bar.last->menu->items[4];
    toggle->action();
    clock().runPending();
    EXPECT_EQ(state(), State::recording);
    EXPECT_EQ(toggle->title, "Stop & Insert");
    EXPECT_EQ(bar.last->sym, "record.circle.fill");
    EXPECT_EQ(delegate->applicationDockMenu()->items[0]->title, "Stop & Insert");
    EXPECT_EQ(delegate->applicationDockMenu()->items[1]->title, "History");
    EXPECT_EQ(hotkey->swallow, std::vector<bool>{true});

    toggle->action();
    clock().runPending();
    EXPECT_EQ(state(), State::processing);
    EXPECT_EQ(toggle->title, "Transcribing…");
    EXPECT_EQ(bar.last->sym, "hourglass");
    toggle->action();  // ignored while processing
    EXPECT_EQ(state(), State::processing);

    clock().advance(1);
    EXPECT_EQ(toggle->title, "Start Dictation");
    EXPECT_EQ(bar.last->sym, "mic");
    EXPECT_EQ(hotkey->swallow, (std::vector<bool>{true, false}));
}

TEST_F(AppDelegateTest, AShortTapKeepsRecordingUntilTheNextPress) {
    press(0.49);
    EXPECT_EQ(state(), State::recording);
    hotkey->onFnDown();
    EXPECT_EQ(state(), State::processing);
    hotkey->onFnUp(0.1);
    EXPECT_EQ(state(), State::processing);
    EXPECT_EQ(recorder->stops, 1);
}

TEST_F(AppDelegateTest, AHoldStopsOnRelease) {
    press(0.5);
    EXPECT_EQ(state(), State::processing);
    EXPECT_EQ(recorder->stops, 1);
}

TEST_F(AppDelegateTest, AnotherKeyDuringTheHoldDiscardsSilently) {
    hotkey->onFnDown();
    widget->events.clear();
    hotkey->onKeyDownDuringHold();
    EXPECT_EQ(state(), State::idle);
    EXPECT_EQ(recorder->cancels, 1);
    EXPECT_EQ(widget->events, std::vector<std::string>{"hide"});
    hotkey->onFnUp(1.0);
    EXPECT_EQ(recorder->stops, 0);

    // In hands-free mode the press did not start this recording: other keys are typing.
    press(0.2);
    hotkey->onKeyDownDuringHold();
    EXPECT_EQ(state(), State::recording);
}

TEST_F(AppDelegateTest, CancelWorksOnlyWhileRecording) {
    hotkey->onCancel();
    hotkey->onCancelKey();
    EXPECT_EQ(state(), State::idle);
    EXPECT_TRUE(widget->events.empty());

    press(0.2);
    hotkey->onCancelKey();
    EXPECT_EQ(state(), State::idle);
    EXPECT_EQ(widget->events.back(), "flash:Cancelled:0");
    EXPECT_EQ(recorder->cancels, 1);

    press(0.2);
    hotkey->onFnDown();  // stop: processing
    widget->events.clear();
    hotkey->onCancel();
    EXPECT_EQ(state(), State::processing);
    EXPECT_TRUE(widget->events.empty());
}

TEST_F(AppDelegateTest, KeyCommandsFromTheCommandLineDriveDictationAsTheKeyDoes) {
    using platform::ControlCommand;
    delegate->handleControl(ControlCommand::pttDown);
    EXPECT_EQ(state(), State::recording);
    clock().advance(0.6);
    delegate->handleControl(ControlCommand::pttUp);  // a hold: stops on release
    EXPECT_EQ(state(), State::processing);
    clock().advance(1);
    ASSERT_EQ(state(), State::idle);

    delegate->handleControl(ControlCommand::toggle);  // a tap: hands-free until the next one
    EXPECT_EQ(state(), State::recording);
    delegate->handleControl(ControlCommand::cancel);
    EXPECT_EQ(state(), State::idle);
    EXPECT_EQ(widget->events.back(), "flash:Cancelled:0");
    delegate->handleControl(ControlCommand::toggle);
    clock().advance(0.5);
    delegate->handleControl(ControlCommand::toggle);
    EXPECT_EQ(state(), State::processing);
    EXPECT_EQ(recorder->stops, 2);
}

TEST_F(AppDelegateTest, AQuitAskedForDuringADictationWaitsUntilItHasLanded) {
    int quits = 0;
    delegate->finishDictationThenQuit([&] { ++quits; });
    EXPECT_EQ(quits, 1) << "nothing in flight: at once";

    hotkey->onFnDown();  // still held when the program is asked to end
    clock().advance(1);
    delegate->finishDictationThenQuit([&] { ++quits; });
    EXPECT_EQ(recorder->stops, 1) << "the recording is ended and processed";
    EXPECT_EQ(state(), State::processing);
    clock().advance(0.1);
    EXPECT_EQ(quits, 1);
    clock().advance(0.3);
    EXPECT_EQ(widget->last(), "flash:Inserted ✓:1");
    EXPECT_EQ(quits, 2);
}

TEST_F(AppDelegateTest, TheBugReportIsAPercentEncodedMail) {
    const std::string url = AppDelegate::bugReportUrl();
    EXPECT_EQ(url.rfind("mailto:support@tovrin.app?subject=Tovrin%20bug%20report%20(" TOVRIN_VERSION ")&body=", 0), 0u)
        << url;
    // Cyrillic as UTF-8 escapes, new lines as %0A, the path's slashes and tilde kept.
    EXPECT_NE(url.find("body=%D0%A9%D0%BE%20%D1%81%D1%82%D0%B0%D0%BB%D0%BE%D1%81%D1%8F:%0A%0A"), std::string::npos);
    EXPECT_NE(url.find("%0A%D0%9B%D0%BE%D0%B3%20%D0%B4%D0%B2%D0%B8%D0%B6%D0%BA%D0%B0:%20~/.local/state/Tovrin/engine.log%20("),
              std::string::npos)
        << url;
    EXPECT_NE(url.find("%0A%D0%9B%D0%BE%D0%B3%20%D0%BF%D1%80%D0%BE%D0%B3%D1%80%D0%B0%D0%BC%D0%B8:%20~/.local/state/Tovrin/tovrin.log%20("),
              std::string::npos)
        << "the program's own log is named beside the engine's";
    EXPECT_NE(url.find("Tovrin%20" TOVRIN_VERSION "%20%C2%B7%20"), std::string::npos);
    delegate->reportBug();
    EXPECT_EQ(test::fakes().workspace.opened.back(), url);

    // A state folder outside the home folder is named as it is.
    const std::string state = std::getenv("XDG_STATE_HOME");
    setenv("XDG_STATE_HOME", "/var/state/u1", 1);
    const std::string moved = AppDelegate::bugReportUrl();
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    EXPECT_NE(moved.find("%20/var/state/u1/Tovrin/engine.log%20("), std::string::npos) << moved;
}

// With no mail program the report does not vanish: the engine log's folder opens, and the user
// is told what to send where.
TEST_F(AppDelegateTest, WithoutAMailProgramTheBugReportShowsTheEngineLog) {
    auto& workspace = test::fakes().workspace;
    workspace.opens = false;
    delegate->reportBug();
    ASSERT_EQ(workspace.revealed.size(), 1u);
    EXPECT_EQ(workspace.revealed[0], std::string(std::getenv("XDG_STATE_HOME")) + "/Tovrin/engine.log");
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_NE(notifier.shown[0].find("No mail program found."), std::string::npos);
    EXPECT_NE(notifier.shown[0].find("support@tovrin.app"), std::string::npos);
}

// Opening the program again shows the main window when none of ours is shown, and otherwise
// brings the shown ones forward instead of doing nothing.
TEST_F(AppDelegateTest, ReopeningShowsTheMainWindowOrBringsOursForward) {
    auto& app = test::fakes().app;
    app.visibleWindows = true;
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_EQ(app.broughtForward, 1);
    EXPECT_FALSE(MainWindowController::shared().isVisible());

    app.visibleWindows = false;
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_TRUE(MainWindowController::shared().isVisible());
    EXPECT_EQ(app.broughtForward, 1);
    MainWindowController::shared().window()->close();
}

// Without a tray host the user is told once how to reach the program.
TEST_F(AppDelegateTest, WithoutATrayHostTheUserIsToldOnceHowToReachTheProgram) {
    bar.available = false;
    clock().advance(60);
    EXPECT_EQ(notifier.shown,
              std::vector<std::string>{"Tovrin: No system tray found — open Tovrin again to show its window."});
}

}  // namespace
