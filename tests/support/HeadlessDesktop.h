// A private desktop for integration tests: an Xvfb display (optionally with a tray host), a D-Bus
// session with an unlocked gnome-keyring, all in a fresh HOME with its own XDG folders. Everything
// started here is stopped (by PID) when the object goes away.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class HeadlessDesktop {
public:
    struct Options {
        bool display = true;
        bool tray = false;     // an XEmbed tray host (trayer), so the program's tray icon can show
        bool keyring = false;  // a D-Bus session bus with gnome-keyring's secret service
    };

    explicit HeadlessDesktop(Options options);
    ~HeadlessDesktop();
    HeadlessDesktop(const HeadlessDesktop&) = delete;
    HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    const std::string& display() const { return display_; }  // ":N"
    const std::string& home() const { return home_; }
    const std::string& busAddress() const { return bus_; }

    // Sets DISPLAY, HOME, XDG_*_HOME, XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS in this
    // process so that what it starts afterwards (Qt included) uses this desktop.
    void exportEnvironment() const;
    // The same as "NAME=value" strings, for child processes.
    std::vector<std::string> environment() const;

    // Starts a helper process with this desktop's environment; stopped with the desktop.
    pid_t spawn(const std::vector<std::string>& argv);
    // Runs a command to completion (bounded), returning its exit status and standard output.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr, double timeoutSeconds = 20);

    // Ends the session bus and the keyring on it (SIGKILL, as a crash does); the address stays
    // in the environment.
    void stopBus();
    // Starts a bus at the same address again, with the keyring (its files kept) on it.
    bool restartBus();

    // Locks the keyring's login collection, as the user or the screen locker does.
    bool lockKeyring();
    // Opens it again with its password, as answering the desktop's unlock prompt does.
    bool unlockKeyring();

private:
    bool startXvfb();
    bool startTray();
    // The bus (at `address`, or one of its choosing when empty) and the keyring on it.
    bool startKeyring(const std::string& address = {});

    std::string error_;
    std::string root_;
    std::string home_;
    std::string runtime_;
    std::string display_;
    std::string bus_;
    std::vector<pid_t> pids_;
    pid_t busPid_ = -1;
    pid_t keyringPid_ = -1;
};

}  // namespace test
