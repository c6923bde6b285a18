#include "app/AppDelegate.h"

#include "state/AppSettings.h"
#include "state/FailureText.h"
#include "cloud/BackendClient.h"
#include "dictation/AudioRecorder.h"
#include "dictation/HotkeyMonitor.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Accessibility.h"
#include "platform/App.h"
#include "platform/CrashReporter.h"
#include "platform/DesktopNotifier.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/Machine.h"
#include "platform/MainQueue.h"
#include "platform/Paths.h"
#include "platform/StatusItem.h"
#include "platform/Updater.h"
#include "platform/Workspace.h"
#include "ui/kit/AppIconManager.h"
#include "ui/kit/KestalTheme.h"
#include "ui/main/MainWindowController.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/overlay/FloatingWidget.h"

#include <array>
#include <utility>

namespace {

using State = DictationController::State;

// Deployment values: the crash-report DSN and the support mail address.
constexpr const char* kCrashDsn = "https://4f1c2a9e7b3d4c6f8a0e1b2c3d4e5f60@crash.tovrin.app/2";
constexpr const char* kSupportMail = "support@tovrin.app";

const std::array<std::pair<const char*, const char*>, 3> kLanguages = {{
    {"auto", "Auto-detect"},
    {"uk", "Українська"},
    {"en", "English"},
}};

constexpr double kTrayHostGraceSeconds = 5;
// How often a quit waiting for the dictation in flight looks again.
constexpr double kSettleCheckSeconds = 0.05;
constexpr const char* kNoTrayNotice = "No system tray found — open Tovrin again to show its window.";

constexpr const char* kNoMailNotice =
    "No mail program found. The folder with Tovrin's logs (engine.log and tovrin.log) is open: attach "
    "them to a mail to support@tovrin.app and say what happened.";

// The characters a URL query may hold as they are (sub-delimiters, ":@/?"), besides the unreserved.
constexpr const char* kQueryAllowed = "!$&'()*+,;=:@/?";

std::string queryEncoded(const std::string& text) { return platform::http::percentEncode(text, kQueryAllowed); }

}  // namespace

AppDelegate::AppDelegate() : AppDelegate(Parts{}) {}

AppDelegate::AppDelegate(Parts parts)
    : controller_(std::move(parts.controller)), hotkey_(std::move(parts.hotkey)), updater_(std::move(parts.updater)) {
    if (!controller_) controller_ = std::make_unique<DictationController>(std::make_unique<FloatingWidget>());
    if (!hotkey_) hotkey_ = std::make_unique<HotkeyMonitor>();
}

AppDelegate::~AppDelegate() {
    *alive_ = false;
}

void AppDelegate::applicationDidFinishLaunching() {
    auto& app = platform::App::shared();
    app.setDarkAppearance();
    KestalTheme::apply();
    AppIconManager::applySaved();

    platform::CrashReporterOptions crash;
    crash.dsn = kCrashDsn;
    crash.enableAutoSessionTracking = false;
    crash.enableAutoPerformanceTracing = false;
    crash.enableNetworkTracking = false;
    crash.tracesSampleRate = 0;
    platform::CrashReporter::start(crash);

    const std::string bundle = platform::Paths::bundle();
    if (bundle.find("/AppTranslocation/") != std::string::npos || bundle.rfind("/Volumes/", 0) == 0) {
        app.showAlert("Move Tovrin to Applications first",
                      "Tovrin is running from the installer image. Drag Tovrin to the Applications folder, eject the "
                      "installer, and launch it from Applications — otherwise macOS permissions won't stick.",
                      "Quit");
        app.terminate();
        return;
    }

    app.setRegular(AppSettings::shared().showInDock());
    setupStatusItem();
    watchForTrayHost();
    requestPermissions();
    wireKeys();
    hotkey_->start();
    EngineManager::shared().syncToProvider();
    launchTask_ = runLaunchTask();
}

void AppDelegate::requestPermissions() {
    // Linux has no per-application microphone permission to ask for; the trust check stays.
    platform::Accessibility::shared().isTrusted(true);
}

void AppDelegate::wireKeys() {
    std::weak_ptr<bool> alive = alive_;
    auto live = [alive] {
        auto a = alive.lock();
        return a && *a;
    };
    DictationController& c = *controller_;

    c.onStateChange = [this, live](State state) {
        platform::MainQueue::post([this, live, state] {
            if (live()) refreshUI(state);
        });
    };
    c.recordingActiveChanged = [this, live](bool on) {
        platform::MainQueue::post([this, live, on] {
            if (live()) hotkey_->setEscSwallow(on);
        });
    };
    hotkey_->onFnDown = [&c, live] {
        if (live()) c.pushToTalkDown();
    };
    hotkey_->onFnUp = [&c, live](double held) {
        if (live()) c.pushToTalkUp(held);
    };
    hotkey_->onKeyDownDuringHold = [&c, live] {
        if (live()) c.keyDownDuringHold();
    };
    auto cancel = [&c, live] {
        if (live()) c.cancelRecording();
    };
    hotkey_->onCancel = cancel;
    hotkey_->onCancelKey = cancel;
}

platform::Task<> AppDelegate::runLaunchTask() {
    auto alive = alive_;
    if (BackendClient::hasStoredSession()) {
        try {
            co_await BackendClient::shared().refresh();
        } catch (const std::exception& e) {
            // The account client logged what the service answered; the launch goes on signed out.
            qCInfo(logApp, "no session renewed at launch: %s", FailureText::forLog(e).c_str());
        }
    }
    if (!*alive) co_return;
    const bool signedIn = BackendClient::shared().isLoggedIn();
    const bool needsModel = AppSettings::shared().route().isLocal() && ModelManager::shared().installed().empty();
    if (!signedIn || needsModel) OnboardingWindowController::shared().show();
}

void AppDelegate::setupStatusItem() {
    statusItem_ = platform::StatusBar::system().makeStatusItem();
    statusItem_->setSymbol("mic", "Wendaro");
    auto menu = std::make_shared<platform::Menu>();
    menu->addItem("Open Tovrin", [this] { openMainWindow(); }, "o");
    menu->addItem("History", [this] { openHistory(); }, "h");
    menu->addItem("Setup & Models…", [this] { openOnboarding(); });
    menu->addSeparator();
    toggleMenuItem_ = menu->addItem("Start Dictation", [this] { toggleDictation(); });
    menu->addSeparator();
    auto languages = std::make_shared<platform::Menu>();
    for (const auto& [code, title] : kLanguages) {
        const std::string c = code;
        auto item = languages->addItem(title, [this, c] { pickLanguage(c); });
        item->representedObject = c;
        langItems_[c] = item;
    }
    menu->addSubmenu("Language", languages);
    menu->addSeparator();
    menu->addItem("Check for Updates…", [this] {
        if (updater_) updater_->checkForUpdates();
    });
    menu->addItem("Report a Bug…", [this] { reportBug(); });
    menu->addSeparator();
    menu->addItem("Quit Tovrin", [] { platform::App::shared().terminate(); }, "q");
    statusMenu_ = menu;
    refreshLanguageChecks();
    statusItem_->setMenu(menu);
    if (!languageWatch_) {
        languageWatch_ = std::make_unique<QObject>();
        QObject::connect(&AppSettings::shared(), &AppSettings::changed, languageWatch_.get(),
                         [this](AppSettings::Setting setting) {
                             if (setting == AppSettings::Setting::language) refreshLanguageChecks();
                         });
    }
}

void AppDelegate::watchForTrayHost() {
    // Without a tray host the item and its menu are nowhere to be seen: say how to reach the
    // program instead. A panel starting with the session may come up a moment after us.
    std::weak_ptr<bool> alive = alive_;
    platform::MainQueue::after(kTrayHostGraceSeconds, [alive] {
        if (auto a = alive.lock(); !a || !*a) return;
        if (!platform::StatusBar::system().isAvailable())
            platform::DesktopNotifier::shared().notify("Tovrin", kNoTrayNotice);
    });
}

void AppDelegate::refreshLanguageChecks() {
    const std::string current = AppSettings::shared().language();
    for (auto& [code, item] : langItems_) item->checked = code == current;
    for (const auto& item : statusMenu_ ? statusMenu_->items : std::vector<std::shared_ptr<platform::MenuItem>>{})
        if (item->submenu) item->submenu->changedItems();
}

void AppDelegate::pickLanguage(const std::string& code) {
    AppSettings::shared().setLanguage(code);
    refreshLanguageChecks();
}

void AppDelegate::refreshUI(State state) {
    const char* title = "Start Dictation";
    const char* symbol = "mic";
    if (state == State::recording) {
        title = "Stop & Insert";
        symbol = "record.circle.fill";
    } else if (state == State::processing) {
        title = "Transcribing…";
        symbol = "hourglass";
    }
    if (toggleMenuItem_) {
        toggleMenuItem_->title = title;
        statusMenu_->changedItems();
    }
    if (statusItem_) statusItem_->setSymbol(symbol, "Wendaro");
}

void AppDelegate::toggleDictation() {
    switch (controller_->state()) {
    case State::idle: controller_->startRecording(); break;
    case State::recording: controller_->finishRecording(); break;
    case State::processing: break;
    }
}

void AppDelegate::applicationWillTerminate() {
    controller_->programEnding();
    EngineManager::shared().stop();
}

void AppDelegate::finishDictationThenQuit(std::function<void()> quit) {
    if (!controller_->finishBeforeQuit()) {
        quit();
        return;
    }
    // Looked at again every little while until the paste has landed and the clipboard is back.
    std::weak_ptr<bool> alive = alive_;
    auto check = std::make_shared<std::function<void()>>();
    *check = [this, alive, quit = std::move(quit), weakCheck = std::weak_ptr<std::function<void()>>(check)] {
        if (auto a = alive.lock(); !a || !*a) return;
        if (controller_->isSettled()) {
            quit();
            return;
        }
        if (auto again = weakCheck.lock()) platform::MainQueue::after(kSettleCheckSeconds, [again] { (*again)(); });
    };
    platform::MainQueue::after(kSettleCheckSeconds, [check] { (*check)(); });
}

bool AppDelegate::applicationShouldHandleReopen() {
    // Opening the program again brings it forward: the main window when nothing of ours is
    // shown, else the windows that are.
    auto& app = platform::App::shared();
    if (!app.hasVisibleWindows())
        MainWindowController::shared().show(std::nullopt);
    else
        app.bringVisibleWindowsForward();
    return true;
}

void AppDelegate::handleControl(platform::ControlCommand command) {
    if (command == platform::ControlCommand::reopen)
        applicationShouldHandleReopen();
    else
        hotkey_->handleCommand(command);
}

std::shared_ptr<platform::Menu> AppDelegate::applicationDockMenu() {
    auto menu = std::make_shared<platform::Menu>();
    menu->addItem(toggleMenuItem_ ? toggleMenuItem_->title : "Start Dictation", [this] { toggleDictation(); });
    menu->addItem("History", [this] { openHistory(); });
    return menu;
}

void AppDelegate::openMainWindow() { MainWindowController::shared().show(std::nullopt); }
void AppDelegate::openHistory() { MainWindowController::shared().show(Page::history); }
void AppDelegate::openOnboarding() { OnboardingWindowController::shared().show(); }

std::string AppDelegate::bugReportUrl() {
    const std::string version = TOVRIN_VERSION;
    // The logs where they are written, with the home folder shown as "~" as people write it: the
    // engine's, and the program's own diagnostic log.
    const std::string home = platform::Paths::home();
    const auto shown = [&home](std::string path) {
        if (!home.empty() && home != "/" && path.rfind(home + "/", 0) == 0) path = "~" + path.substr(home.size());
        return path;
    };
    const std::string engineLog = shown(platform::Paths::logs() + "/Tovrin/engine.log");
    const std::string programLog = shown(platform::Paths::logs() + "/Tovrin/tovrin.log");
    const std::string body = "Що сталося:\n\nЩо я очікував:\n\n—\nTovrin " + version + " · " +
                             platform::Machine::osVersionString() + "\nЛог движка: " + engineLog +
                             " (перетягни в цей лист, якщо проблема з диктовкою)\nЛог програми: " + programLog +
                             " (перетягни в цей лист теж)";
    const std::string subject = "Tovrin bug report (" + version + ")";
    return std::string("mailto:") + kSupportMail + "?subject=" + queryEncoded(subject) + "&body=" + queryEncoded(body);
}

void AppDelegate::reportBug() {
    auto& workspace = platform::Workspace::shared();
    if (workspace.openUrl(bugReportUrl())) return;
    // No mail program: the log the report would carry is shown instead, with where to send it.
    const std::string log = EngineManager::logURL();
    workspace.revealFile(log);
    platform::DesktopNotifier::shared().notify("Tovrin", kNoMailNotice);
}
