// A headless sway for integration tests, brought up and down by the shared wlstack tool: its own
// HOME, runtime folder and D-Bus, with the compositor and its clients run as user nobody (sway
// refuses root). Sway's own programs (wl-copy, foot, the GTK field) are started here as that user
// and stopped with the stack. Needs no Qt and no gtest.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class SwayStack {
public:
    // Brings the stack up (bounded by the tool, ~15 s); ok() tells whether it did.
    SwayStack();
    ~SwayStack();
    SwayStack(const SwayStack&) = delete;
    SwayStack& operator=(const SwayStack&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    const std::string& folder() const { return dir_; }
    std::string work() const { return dir_ + "/work"; }  // writable by the stack's user
    // The stack's variables as "NAME=value" (WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, …).
    const std::vector<std::string>& environment() const { return env_; }
    // Sets them in this process, so that Wayland clients made here reach the compositor.
    void exportEnvironment() const;
    // The X display of sway's XWayland (":N"), started on the first client, which this process
    // may then use too; empty when none.
    std::string xwaylandDisplay() const;

    // Runs `argv` as the stack's user with the stack's environment plus `extraEnv`, in the
    // background, stopped with the stack (or by stop()).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                const std::string& logPath = {});
    // Runs a command as the stack's user to completion (bounded); its exit status (-1 on time-out)
    // and standard output. `input` goes to its standard input.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = {},
            double timeoutSeconds = 10);
    void stop(pid_t pid);

    // sway's IPC: one command line; true when sway says it succeeded.
    bool swaymsg(const std::string& command);
    // Appends lines to the stack's sway config and makes sway read it again.
    bool addConfig(const std::string& lines);
    // The app_id of the focused window (the X11 class of an XWayland window), by sway's tree.
    std::string focusedAppId();

    // The GTK field (a native Wayland GTK window with one focused entry): its text and its event
    // log (keys, focus, clipboard changes), one line per event.
    bool startField();
    std::string fieldText() const;
    std::string fieldEvents() const;
    // What a helper started here wrote ("field", "foot").
    std::string log(const std::string& name) const;
    // A foot terminal running `cat > path` (created as the stack's user), focused.
    bool startFootCat(const std::string& path);

    // The wlstack tool's virtual keyboard: STEP... as it takes them ("29:1", "sleep:200").
    bool keys(const std::vector<std::string>& steps);

private:
    std::string tool_;
    std::string dir_;
    std::string error_;
    std::string as_;  // "setpriv ..." or empty
    std::vector<std::string> env_;
    std::vector<pid_t> pids_;
};

}  // namespace test
