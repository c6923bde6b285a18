// A headless GNOME for integration tests, brought up and down by the shared wlstack tool: mutter
// with its XWayland, its own HOME, runtime folder and D-Bus, and on request the desktop portal
// with GNOME's backend. The backend's windows live on XWayland, so the test can answer its
// consent dialog with X11 clicks. Everything started here stops with the stack. Needs no Qt and
// no gtest.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class MutterStack {
public:
    // Brings the stack up (bounded, ~20 s at most); ok() tells whether it did.
    MutterStack();
    ~MutterStack();
    MutterStack(const MutterStack&) = delete;
    MutterStack& operator=(const MutterStack&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    const std::string& folder() const { return dir_; }
    std::string work() const { return dir_ + "/work"; }
    // The stack's variables as "NAME=value" (WAYLAND_DISPLAY, DISPLAY, XDG_RUNTIME_DIR, HOME, …).
    const std::vector<std::string>& environment() const { return env_; }
    // One of them; empty when not set.
    std::string variable(const std::string& name) const;

    // The desktop portal with GNOME's backend (RemoteDesktop); false when it did not come up.
    bool startPortal();
    // Waits for the portal's remote-desktop consent dialog and answers it: "Allow remote
    // interaction" and Share, or Cancel. False when no dialog showed or it stayed open.
    bool answerConsent(bool allow);

    // Runs `argv` with the stack's environment plus `extraEnv`, in the background, stopped with
    // the stack (or by stop()).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                const std::string& logPath = {});
    // Runs a command to completion (bounded); its exit status (-1 on time-out) and standard output.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = {},
            double timeoutSeconds = 10);
    void stop(pid_t pid);

    // The GTK field (a GTK window with one focused entry, started afresh; a native Wayland client,
    // or an X11 one on XWayland): its text and its event log (keys, focus, clipboard changes), one
    // line per event.
    bool startField(bool onXWayland = false);
    std::string fieldText() const;
    std::string fieldEvents() const;
    std::string log(const std::string& name) const;

private:
    bool hasBusName(const std::string& name);

    std::string tool_;
    std::string dir_;
    std::string error_;
    std::vector<std::string> env_;
    std::vector<pid_t> pids_;
    pid_t field_ = -1;
};

}  // namespace test
