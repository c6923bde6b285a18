// The words a user reads in our windows and in the tray menu: nothing names a macOS-only thing
// (this desktop has a tray, a taskbar and a Menu key), and menu titles show every character.
#include "app/AppDelegate.h"
#include "state/Database.h"
#include "cloud/BackendClient.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/DesktopNotifier.h"
#include "platform/MicPermission.h"
#include "platform/Paths.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/Updater.h"
#include "support/DictationFakes.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/kit/WrapLabel.h"
#include "ui/main/MainNav.h"
#include "ui/main/MainWindow.h"
#include "ui/main/SettingsPage.h"
#include "ui/onboarding/AccountStep.h"
#include "ui/onboarding/ModelStep.h"
#include "ui/onboarding/PermissionsStep.h"
#include "ui/onboarding/WelcomeStep.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>

#include <memory>

namespace {

struct GrantedMic : platform::MicPermission {
    platform::MicAuthorization status() override { return platform::MicAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> done) override { done(true); }
};

struct QuietHotkey : HotkeyMonitor {
    void start() override {}
    void setEscSwallow(bool) override {}
};

struct SilentNotifier : platform::DesktopNotifier {
    void notify(const std::string&, const std::string&) override {}
};

// Every text a widget tree shows or offers, hidden parts included (they show on a click).
void collect(const QWidget* root, const QString& where, QStringList& out) {
    auto add = [&](const QString& text) {
        if (!text.isEmpty()) out << where + ": " + text;
    };
    QList<const QWidget*> widgets{root};
    for (const QWidget* w : root->findChildren<QWidget*>()) widgets << w;
    for (const QWidget* w : widgets) {
        add(w->toolTip());
        if (auto* l = qobject_cast<const QLabel*>(w)) add(l->text());
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) add(b->text());
        if (auto* e = qobject_cast<const QLineEdit*>(w)) add(e->placeholderText());
        if (auto* t = qobject_cast<const WrapLabel*>(w)) add(t->text());
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) add(c->itemText(i));
    }
}

void collect(const QMenu* menu, QStringList& out) {
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        out << "tray: " + a->iconText();
        if (a->menu()) collect(a->menu(), out);
    }
}

class ShownWordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        platform::MicPermission::setShared(&mic);
        platform::DesktopNotifier::setShared(&notifier);
        platform::StatusBar::setSystem(&bar);
    }
    void TearDown() override {
        platform::StatusBar::setSystem(nullptr);
        platform::DesktopNotifier::setShared(nullptr);
        platform::MicPermission::setShared(nullptr);
        platform::Paths::setBundleOverride("");
    }

    std::unique_ptr<AppDelegate> launchDelegate() {
        DictationController::Parts parts;
        parts.recorder = std::make_unique<test::FakeRecorder>();
        parts.transcriber = std::make_unique<test::FakeTranscriber>();
        parts.widget = std::make_unique<test::FakeWidget>();
        AppDelegate::Parts delegateParts;
        delegateParts.controller = std::make_unique<DictationController>(std::move(parts));
        delegateParts.hotkey = std::make_unique<QuietHotkey>();
        auto delegate = std::make_unique<AppDelegate>(std::move(delegateParts));
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    GrantedMic mic;
    SilentNotifier notifier;
    platform::QtStatusBar bar;
};

TEST_F(ShownWordsTest, NoShownTextNamesAMacOnlyThing) {
    QStringList shown;
    test::TempFolder folder;
    Database store(folder.path() + "/Wendaro");
    store.dictAdd("клод код", "Claude Code");
    store.insertHistory("hello", 1, 1.0, "en");
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, store);
    for (Page p : pages::allCases) {
        MainNav::shared().setPage(p);
        collect(&window, pages::rawValue(p), shown);
    }
    SettingsPage settings;
    collect(&settings, "Settings", shown);
    WelcomeStep welcome([] {});
    collect(&welcome, "Welcome", shown);
    AccountStep account([] {}, backend);
    collect(&account, "Account", shown);
    PermissionsStep permissions([] {});
    collect(&permissions, "Permissions", shown);
    ModelStep model([] {}, 8ull << 30);
    collect(&model, "Model", shown);
    auto delegate = launchDelegate();
    auto* tray = dynamic_cast<platform::QtStatusItem*>(delegate->statusItem());
    ASSERT_NE(tray, nullptr);
    shown << "tray tooltip: " + tray->trayIcon()->toolTip();
    collect(tray->qmenu(), shown);
    ASSERT_GT(shown.size(), 100);

    const QRegularExpression macOnly(QString::fromUtf8(
        R"(\b(Mac|macOS|Metal|Dock|Finder|Cmd|Command|Option|Globe)\b|Cmd-Tab|menu bar|System Settings|)"
        R"(\bFn (key|hotkey)|⌘|⌥|⌃|🌐)"));
    QStringList wrong;
    for (const QString& text : shown)
        if (macOnly.match(text).hasMatch()) wrong << text;
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join("\n").toStdString();
    EXPECT_TRUE(shown.contains("tray tooltip: Tovrin"));
}

// Qt reads "&" in a menu title as the mark of a shortcut letter: the tray shows the titles as written.
TEST_F(ShownWordsTest, TrayMenuTitlesShowEveryCharacter) {
    auto delegate = launchDelegate();
    auto* tray = dynamic_cast<platform::QtStatusItem*>(delegate->statusItem());
    ASSERT_NE(tray, nullptr);
    const auto& items = delegate->statusMenu()->items;
    const QList<QAction*> actions = tray->qmenu()->actions();
    ASSERT_EQ(actions.size(), static_cast<int>(items.size()));
    for (int i = 0; i < actions.size(); ++i)
        if (!items[i]->separator) EXPECT_EQ(actions[i]->iconText().toStdString(), items[i]->title);
    EXPECT_EQ(actions[2]->iconText(), QString::fromUtf8("Setup & Models…"));

    delegate->toggleDictation();  // a title changed later: "Stop & Insert"
    test::fakes().scheduler.runPending();
    EXPECT_EQ(actions[4]->iconText(), "Stop & Insert");
    delegate->toggleDictation();
    test::fakes().scheduler.runPending();
}

}  // namespace
