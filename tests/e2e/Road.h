// The pieces of an end-to-end dictation run on the headless desktop: the program started as a
// new user (its settings, history database, models and logs in the desktop's XDG folders), the
// window of another program that holds the keyboard focus, the test recogniser on the fixed
// port, the clipboard as other clients see it, and the titles of the program's windows (the
// recording widget names what it shows in its title). Needs no gtest, so the benchmark uses it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace test {
class HeadlessDesktop;
class PulseServer;
}

namespace e2e {

double now();      // seconds on a monotonic clock
double wallNow();  // seconds since 1970 (to set beside the servers' log times)
// Polls `ready` every `pollSeconds` until it holds or `seconds` have passed.
bool waitUntil(const std::function<bool()>& ready, double seconds, double pollSeconds = 0.01);
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& text);

// Starts `argv` in a process group of its own with `env`; stdout and stderr go to `logPath`
// (else /dev/null).
pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& logPath = {});
// TERM to the process group, then KILL after `grace` seconds; reaps the process.
void stopGroup(pid_t pid, double grace = 5);
bool alive(pid_t pid);
// The PIDs of the children of `parent` whose command name is `name`.
std::vector<pid_t> childrenNamed(pid_t parent, const std::string& name);
// An HTTP GET of `path` on 127.0.0.1:`port` is answered with status 200 (within a second).
bool answers200(int port, const std::string& path);
// The process exists and is not a zombie (it need not be our child).
bool running(pid_t pid);
// A process's command line, argument by argument.
std::vector<std::string> commandLine(pid_t pid);

// Records, from a thread of its own, every distinct title the windows of one process take
// (checked every few milliseconds), in order.
class TitleWatch {
public:
    TitleWatch(std::string display, pid_t pid);
    ~TitleWatch();
    std::vector<std::string> seen() const;
    bool saw(const std::string& title) const;
    // Waits until `title` has been seen (at any time since the watch began or since clear()).
    bool waitFor(const std::string& title, double seconds) const;
    // When (wallNow) `title` was first seen since the watch began or since clear().
    std::optional<double> firstSeenAt(const std::string& title) const;
    void clear();

private:
    void run();
    std::string display_;
    pid_t pid_;
    mutable std::mutex mutex_;
    std::vector<std::string> seen_;
    std::vector<double> seenAt_;
    std::vector<std::string> last_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct X11Window {
    unsigned long id = 0;
    std::string title;
    bool viewable = false;
};
// The top-level windows of a process (by _NET_WM_PID).
std::vector<X11Window> windowsOf(const std::string& display, pid_t pid);

class Road {
public:
    struct Binaries {
        std::string program;     // the tovrin executable
        std::string target;      // the text-field window
        std::string recognizer;  // the test recogniser
        std::string grammar;     // its grammar
    };

    Road(test::HeadlessDesktop& desktop, test::PulseServer& pulse, Binaries binaries);
    ~Road();

    std::string configDir() const;  // $XDG_CONFIG_HOME/Tovrin
    std::string dataDir() const;    // $XDG_DATA_HOME/Wendaro
    std::string stateDir() const;   // $XDG_STATE_HOME/Tovrin
    std::string databasePath() const;
    std::string modelsDir() const;
    // A new user: no settings, history, models or logs; then the given settings file.
    void freshUser(const std::string& defaultsJson);
    // Runs SQL on the history database with the sqlite3 tool; the rows (fields split by '|',
    // rows by newlines), or nullopt when sqlite3 failed.
    std::optional<std::string> sql(const std::string& statement, bool readOnly = true) const;

    // The test recogniser on 127.0.0.1:`port` (8756 is where the program looks); waits for /health.
    bool startRecognizer(int port = 8756);
    void stopRecognizer();
    bool recognizerRunning() const { return recognizer_ > 0 && running(recognizer_); }
    std::string recognizerLog() const;
    // The audio of the recogniser's last request.
    std::string recognizerLastWav() const;

    // The other program's window with a focused text field: the target binary, or `command`
    // (run with the output file as its last argument), whose window is titled "e2e target" too.
    bool startTarget(const std::vector<std::string>& command = {});
    void stopTarget();
    std::string targetText() const;
    std::string targetKeys() const;  // the keys it received, one per line
    std::string targetReleases() const;  // the keys released over it, one per line
    unsigned long targetWindow() const { return targetWindow_; }
    // Gives the focus back to the target window (the program's onboarding takes it at launch).
    bool focusTarget();

    // The program; true once one of its windows is on screen. For a new user it waits on (at
    // most 15 s more) until the launch has run: the onboarding window is shown and holds the
    // focus. `launcher` goes before the program's path (a command that execs it, such as setpriv).
    bool startProgram(const std::vector<std::string>& extraEnv = {}, const std::vector<std::string>& launcher = {});
    void stopProgram();
    // Asks the program to end (SIGTERM to it alone) and waits for it; its exit status, or -1.
    int quitProgram(double seconds = 10);
    pid_t programPid() const { return program_; }
    bool programRunning() const { return program_ > 0 && alive(program_); }
    std::string programLog() const;
    // The program's onboarding window is on screen and has the keyboard focus.
    bool onboardingFocused() const;
    TitleWatch& titles() { return *titles_; }

    // Another client owns the clipboard with `text` (until stopClipboardOwner or the next call).
    bool ownClipboard(const std::string& text);
    void stopClipboardOwner();
    std::string clipboard() const;

    test::HeadlessDesktop& desktop() { return desktop_; }
    test::PulseServer& pulse() { return pulse_; }
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;

private:
    test::HeadlessDesktop& desktop_;
    test::PulseServer& pulse_;
    Binaries bin_;
    std::string scratch_;
    pid_t recognizer_ = -1;
    pid_t target_ = -1;
    unsigned long targetWindow_ = 0;
    pid_t program_ = -1;
    pid_t programGroup_ = -1;  // kept after a quit, for whatever the program left running
    pid_t clipboardOwner_ = -1;
    std::unique_ptr<TitleWatch> titles_;
};

}  // namespace e2e
