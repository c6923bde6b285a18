// The tray item on a real X display with a tray host: the program's menu as the user sees it,
// a language picked there surviving a restart, and "Quit Tovrin" ending the process cleanly.
#include "app/AppDelegate.h"

#include "state/AppSettings.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/Defaults.h"
#include "platform/xdg/JsonFileDefaults.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/Updater.h"
#include "support/DesktopTestMain.h"
#include "support/DictationFakes.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"
#include "support/XTestKeyboard.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <signal.h>
#include <sys/wait.h>

namespace {

struct QuietHotkey : HotkeyMonitor {
    void start() override {}
    void setEscSwallow(bool) override {}
};

std::unique_ptr<AppDelegate> makeDelegate() {
    DictationController::Parts parts;
    parts.recorder = std::make_unique<test::FakeRecorder>();
    parts.transcriber = std::make_unique<test::FakeTranscriber>();
    parts.widget = std::make_unique<test::FakeWidget>();
    AppDelegate::Parts delegateParts;
    delegateParts.controller = std::make_unique<DictationController>(std::move(parts));
    delegateParts.hotkey = std::make_unique<QuietHotkey>();
    return std::make_unique<AppDelegate>(std::move(delegateParts));
}

std::vector<std::string> texts(const QMenu* menu) {
    std::vector<std::string> out;
    // As the menu shows them: without the marks of shortcut letters.
    for (QAction* a : menu->actions()) out.push_back(a->isSeparator() ? "-" : a->iconText().toStdString());
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class TrayMenuIT : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::StatusBar::setSystem(&bar);
    }
    void TearDown() override { platform::StatusBar::setSystem(nullptr); }
    platform::QtStatusBar bar;
};

TEST_F(TrayMenuIT, TheTrayShowsTheMenuWithOneLanguageChecked) {
    ASSERT_TRUE(test::pumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10));
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    auto* item = dynamic_cast<platform::QtStatusItem*>(delegate->statusItem());
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->trayIcon()->isVisible());
    EXPECT_EQ(item->trayIcon()->toolTip(), "Tovrin");

    const QMenu* menu = item->qmenu();
    EXPECT_EQ(texts(menu), (std::vector<std::string>{"Open Tovrin", "History", "Setup & Models…", "-",
                                                     "Start Dictation", "-", "Language", "-", "Check for Updates…",
                                                     "Report a Bug…", "-", "Quit Tovrin"}));
    const QMenu* languages = menu->actions()[6]->menu();
    ASSERT_NE(languages, nullptr);
    EXPECT_EQ(texts(languages), (std::vector<std::string>{"Auto-detect", "Українська", "English"}));

    // Picking through the real menu moves the single check mark.
    languages->actions()[2]->trigger();
    int checked = 0;
    for (QAction* a : languages->actions()) checked += a->isChecked();
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(languages->actions()[2]->isChecked());
    EXPECT_EQ(AppSettings::shared().language(), "en");

    // The toggle's title follows the state.
    menu->actions()[4]->trigger();
    test::fakes().scheduler.runPending();
    EXPECT_EQ(menu->actions()[4]->iconText(), "Stop & Insert");
}

// Clicks at a point of the screen through XTest.
void click(test::XTestKeyboard& keys, int x, int y) {
    XTestFakeMotionEvent(keys.display(), -1, x, y, 0);
    XTestFakeButtonEvent(keys.display(), 1, True, 0);
    XTestFakeButtonEvent(keys.display(), 1, False, 0);
    XFlush(keys.display());
}

// The tray host's panel window, where embedded icons live.
std::string trayPanel(test::HeadlessDesktop& desk) {
    std::string out;
    desk.run({"sh", "-c", "xwininfo -root -tree | grep '(\"panel\" \"trayer\")' | head -n1 | awk '{print $1}'"}, &out,
             5);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// The program's icons embedded in the tray (its own windows elsewhere do not count).
std::vector<std::string> trayIcons(test::HeadlessDesktop& desk) {
    std::string out;
    const std::string panel = trayPanel(desk);
    if (panel.empty()) return {};
    desk.run({"sh", "-c", "xwininfo -id " + panel + " -tree | grep '(\"tovrin\"' | awk '{print $1}'"}, &out, 5);
    std::vector<std::string> ids;
    std::istringstream in(out);
    for (std::string id; in >> id;) ids.push_back(id);
    return ids;
}

// Where the program's tray icon sits on the screen, once it is embedded into the tray host.
bool findTrayIcon(test::HeadlessDesktop& desk, int& x, int& y) {
    const auto icons = trayIcons(desk);
    if (icons.empty()) return false;
    std::string out;
    desk.run({"sh", "-c",
              "xwininfo -id " + icons.front() +
                  " | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} "
                  "END{print x+int(w/2), y+int(w/2)}'"},
             &out, 5);
    x = y = 0;
    std::istringstream(out) >> x >> y;
    return x > 0 || y > 0;
}

// Starts the real program as a new user, picks a language and quits through its tray menu,
// driving it with the pointer and the keyboard as a user would.
TEST_F(TrayMenuIT, TheProgramKeepsALanguagePickedInItsMenuAndQuitsCleanly) {
    const std::string exe = std::string(TOVRIN_BUNDLE_DIR) + "/bin/tovrin";
    ASSERT_TRUE(std::filesystem::exists(exe)) << exe;
    auto& desk = test::desktop();
    const std::string settings = desk.home() + "/.config/Tovrin/defaults.json";
    test::XTestKeyboard keys(desk.display());
    ASSERT_TRUE(keys.ok());

    const pid_t pid = desk.spawn({exe});
    ASSERT_GT(pid, 0);
    int x = 0, y = 0;
    ASSERT_TRUE(test::pumpUntil([&] { return findTrayIcon(desk, x, y); }, 20)) << "no tray icon";
    test::pumpFor(0.5);

    // Starting the program again hands over to the running one: one tray icon, and the second
    // process ends at once.
    EXPECT_EQ(desk.run({exe}, nullptr, 10), 0);
    EXPECT_EQ(trayIcons(desk).size(), 1u);

    auto openMenu = [&] {
        click(keys, x, y);
        test::pumpFor(0.6);
    };
    auto key = [&](const char* name, int times = 1) {
        for (int i = 0; i < times; ++i) {
            keys.tap(name);
            test::pumpFor(0.15);
        }
    };

    // Language is the fifth item (separators are skipped); its submenu's third item is English.
    openMenu();
    key("Down", 5);
    key("Right");
    key("Down", 2);
    key("Return");
    ASSERT_TRUE(test::pumpUntil([&] { return readFile(settings).find("\"lang\": \"en\"") != std::string::npos; }, 5))
        << readFile(settings);

    // "Quit Tovrin" is the last item.
    openMenu();
    key("Up");
    key("Return");
    int status = -1;
    const bool exited = test::pumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10);
    if (!exited) kill(pid, SIGKILL);
    ASSERT_TRUE(exited);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // After a restart the menu shows the language the user picked, and only that one, checked.
    platform::JsonFileDefaults stored(settings);
    platform::Defaults::setShared(&stored);
    AppSettings::shared().reload();
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    const QMenu* languages = dynamic_cast<platform::QtStatusItem*>(delegate->statusItem())->qmenu()->actions()[6]->menu();
    std::vector<bool> checks;
    for (QAction* a : languages->actions()) checks.push_back(a->isChecked());
    EXPECT_EQ(checks, (std::vector<bool>{false, false, true}));
    delegate.reset();
    test::reset();
}

}  // namespace

int main(int argc, char** argv) {
    return test::runDesktopTests(argc, argv, {.display = true, .tray = true});
}
