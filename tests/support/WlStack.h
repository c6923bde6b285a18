// A headless Wayland compositor for integration tests, brought up and down by the shared wlstack
// tool: its own HOME, runtime folder and D-Bus. What the stacks share lives here (the tool, the
// stack's environment and user, the programs started in it, the GTK field and logs); SwayStack,
// MutterStack and KwinStack add each compositor's own parts. Everything started here stops with
// the stack. Needs no Qt and no gtest.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class WlStack {
public:
    virtual ~WlStack();
    WlStack(const WlStack&) = delete;
    WlStack& operator=(const WlStack&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    const std::string& folder() const { return dir_; }
    std::string home() const { return dir_ + "/home"; }
    std::string work() const { return dir_ + "/work"; }  // writable by the stack's user
    // The stack's variables as "NAME=value" (WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, …).
    const std::vector<std::string>& environment() const { return env_; }
    // One of them; empty when not set.
    std::string variable(const std::string& name) const;
    // Sets them in this process, so that Wayland and D-Bus clients made here reach the stack.
    void exportEnvironment() const;

    // Runs `argv` as the stack's user with the stack's environment plus `extraEnv`, in the
    // background, stopped with the stack (or by stop()).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                const std::string& logPath = {});
    // Runs a command as the stack's user to completion (bounded); its exit status (-1 on time-out)
    // and standard output. `input` goes to its standard input.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = {},
            double timeoutSeconds = 10);
    void stop(pid_t pid);

    // The GTK field's text and its event log (keys, focus, clipboard changes), one line per event.
    std::string fieldText() const;
    std::string fieldEvents() const;
    // What a helper started here wrote ("field", "portal", …).
    std::string log(const std::string& name) const;

    // Where the tool's helpers are built.
    static std::string helpers();

protected:
    // Brings up `compositor` (bounded) unless `unavailable` says why it cannot run here.
    WlStack(const std::string& compositor, const std::string& unavailable);

    // Why a stack cannot run here: the tool, a program on PATH or a file missing; empty when none is.
    static std::string missing(std::initializer_list<const char*> programs, std::initializer_list<const char*> files = {});
    static bool waitUntil(const std::function<bool()>& ready, double seconds);
    static std::string readFile(const std::string& path);

    void fail(const std::string& why) { error_ = why; }
    // Whether the stack's programs run as another user than this process's.
    bool asOtherUser() const { return !as_.empty(); }
    // Starts the tool's GTK field (GDK_BACKEND `gdkBackend`); its process, which may not be ready yet.
    pid_t spawnField(const std::string& gdkBackend);
    // Waits for the GTK field to say it is ready.
    bool fieldReady() const;
    // Whether `name` has an owner on the stack's session bus.
    bool hasBusName(const std::string& name, double timeoutSeconds);
    // Runs the tool's key helper `helper` with STEP... as it takes them ("29:1", "sleep:200").
    bool runKeys(const std::string& helper, const std::vector<std::string>& steps);
    // The folder of the tool's own helper programs (the GTK field, …).
    std::string tools() const;

private:
    std::string tool_;
    std::string dir_;
    std::string error_;
    std::string as_;  // "setpriv ..." or empty
    std::vector<std::string> env_;
    std::vector<pid_t> pids_;
};

}  // namespace test
