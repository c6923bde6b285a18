// The application's delegate: sets everything up at launch, owns the dictation controller and
// the key monitor, wires the keys to the controller, keeps the tray item and its menu in step
// with the dictation state, and offers the Dock menu, the problem report and the update check.
#pragma once

#include "dictation/DictationController.h"
#include "platform/ControlLine.h"
#include "platform/Menu.h"
#include "platform/Task.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>

class HotkeyMonitor;

namespace platform {
class StatusItem;
class Updater;
}

class AppDelegate {
public:
    struct Parts {
        std::unique_ptr<DictationController> controller;
        std::unique_ptr<HotkeyMonitor> hotkey;
        std::unique_ptr<platform::Updater> updater;
    };

    AppDelegate();
    explicit AppDelegate(Parts parts);
    ~AppDelegate();

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The program is asked to end (a termination signal): `quit` is called once no dictation is
    // in flight, a running recording ended and processed first. The caller bounds the wait.
    void finishDictationThenQuit(std::function<void()> quit);
    bool applicationShouldHandleReopen();
    std::shared_ptr<platform::Menu> applicationDockMenu();
    // A line from a second start of the program: reopen, or a key command for the key monitor.
    void handleControl(platform::ControlCommand command);

    void toggleDictation();
    void openMainWindow();
    void openHistory();
    void openOnboarding();
    void reportBug();
    void pickLanguage(const std::string& code);
    void refreshLanguageChecks();
    void refreshUI(DictationController::State state);

    // The problem-report mail address as it is opened.
    static std::string bugReportUrl();

    DictationController& controller() { return *controller_; }
    HotkeyMonitor& hotkey() { return *hotkey_; }
    platform::StatusItem* statusItem() const { return statusItem_.get(); }
    std::shared_ptr<platform::Menu> statusMenu() const { return statusMenu_; }
    const std::map<std::string, std::shared_ptr<platform::MenuItem>>& langItems() const { return langItems_; }
    // The launch task (running or done), for tests that wait on it.
    platform::Task<>& launchTask() { return launchTask_; }

private:
    void setupStatusItem();
    void watchForTrayHost();
    void requestPermissions();
    void wireKeys();
    platform::Task<> runLaunchTask();

    std::unique_ptr<platform::StatusItem> statusItem_;
    std::shared_ptr<platform::Menu> statusMenu_;
    std::unique_ptr<DictationController> controller_;
    std::unique_ptr<HotkeyMonitor> hotkey_;
    std::shared_ptr<platform::MenuItem> toggleMenuItem_;
    std::map<std::string, std::shared_ptr<platform::MenuItem>> langItems_;
    std::unique_ptr<platform::Updater> updater_;
    platform::Task<> launchTask_;
    // Follows a language chosen elsewhere (the Settings page), so the tray's check stays true.
    std::unique_ptr<QObject> languageWatch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
