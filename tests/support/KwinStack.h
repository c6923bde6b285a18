// A headless KWin (KDE Plasma 5.27) for integration tests, brought up and down by the shared
// wlstack tool: its own HOME, runtime folder and D-Bus, kwin_wayland with XWayland, and on demand
// the desktop portal with its KDE backend (GlobalShortcuts, RemoteDesktop). Its programs (a GTK
// field, a Qt field, wl-copy) are started here and stopped with the stack. Keys are sent through
// KWin's fake input by the tool's helper, which its desktop entry is granted. Needs no Qt and no
// gtest.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class KwinStack {
public:
    // Brings the stack up (bounded by the tool, ~20 s); ok() tells whether it did.
    KwinStack();
    ~KwinStack();
    KwinStack(const KwinStack&) = delete;
    KwinStack& operator=(const KwinStack&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    const std::string& folder() const { return dir_; }
    std::string home() const { return dir_ + "/home"; }
    std::string work() const { return dir_ + "/work"; }
    // The stack's variables as "NAME=value" (WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, …).
    const std::vector<std::string>& environment() const { return env_; }
    // Sets them in this process, so that Wayland and D-Bus clients made here reach the stack.
    void exportEnvironment() const;
    // KWin's XWayland display (":N"); empty when none.
    std::string xwaylandDisplay() const;
    // Starts xdg-desktop-portal and its KDE backend on the stack's bus; true once it answers.
    bool startPortals();

    // Runs `argv` with the stack's environment plus `extraEnv`, in the background, stopped with
    // the stack (or by stop()).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                const std::string& logPath = {});
    // Runs a command to completion (bounded); its exit status (-1 on time-out) and standard output.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = {},
            double timeoutSeconds = 10);
    void stop(pid_t pid);

    // Gives the keyboard focus to the window of `resourceClass` (app_id) by a KWin script; true
    // once KWin says it is active.
    bool activate(const std::string& resourceClass);

    // The GTK field (a native Wayland GTK window with one focused entry): its text and its event
    // log (keys, focus, clipboard changes), one line per event.
    bool startField();
    std::string fieldText() const;
    std::string fieldEvents() const;
    // A native Qt 6 field (the tool's qt_probe), focused; its text.
    bool startQtField();
    std::string qtFieldText() const;
    std::string log(const std::string& name) const;

    // Keys through KWin's fake input: STEP... as the tool's helper takes them ("29:1", "sleep:200").
    bool keys(const std::vector<std::string>& steps);
    // Where the tool's helpers are built.
    static std::string helpers();

private:
    std::string tool_;
    std::string dir_;
    std::string error_;
    std::vector<std::string> env_;
    std::vector<pid_t> pids_;
    int scripts_ = 0;
};

}  // namespace test
