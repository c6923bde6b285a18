#include "e2e/Road.h"

#include "support/HeadlessDesktop.h"
#include "support/PulseServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double wallNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool waitUntil(const std::function<bool()>& ready, double seconds, double pollSeconds) {
    const double deadline = now() + seconds;
    while (now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::duration<double>(pollSeconds));
    }
    return ready();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& logPath) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setpgid(0, 0);
        const int in = open("/dev/null", O_RDONLY);
        const int out = logPath.empty() ? open("/dev/null", O_WRONLY)
                                        : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

bool alive(pid_t pid) {
    if (pid <= 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == 0;
}

void stopGroup(pid_t pid, double grace) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, grace, 0.02);
    if (!ended) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    // Whatever else is left in the group (children of the process) goes too.
    kill(-pid, SIGKILL);
}

std::vector<pid_t> childrenNamed(pid_t parent, const std::string& name) {
    std::vector<pid_t> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
        // /proc/<pid>/stat: "pid (comm) state ppid ..."; comm may hold spaces and parentheses.
        const std::string stat = readFile(entry.path().string() + "/stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string comm = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && name.compare(0, 15, comm) == 0) out.push_back(std::stoi(pid));
    }
    return out;
}

bool running(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    return stat[close + 2] != 'Z';
}

std::vector<std::string> commandLine(pid_t pid) {
    const std::string raw = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> out;
    std::string part;
    for (char c : raw) {
        if (c == '\0') {
            out.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    return out;
}

// ---- X11 windows ----

namespace {

std::optional<long> cardinal(Display* d, Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) != Success)
        return std::nullopt;
    std::optional<long> v;
    if (data && count == 1 && format == 32) v = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return v;
}

std::string utf8Title(Display* d, Window w, Atom netWmName, Atom utf8) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

constexpr const char* kOnboardingTitle = "Welcome to Tovrin";

// The windows of `pid` among the children of `parent`, and further down (two levels) in windows of
// no process (a window manager that reparents, such as KWin, puts each client in a frame and a
// wrapper).
void windowsBelow(Display* d, Window parent, pid_t pid, Atom netPid, Atom netName, Atom utf8, int depth,
                  std::vector<X11Window>& out) {
    Window root = 0, above = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, parent, &root, &above, &children, &n)) return;
    for (unsigned int i = 0; i < n; ++i) {
        const auto owner = cardinal(d, children[i], netPid);
        if (!owner) {
            if (depth > 0) windowsBelow(d, children[i], pid, netPid, netName, utf8, depth - 1, out);
            continue;
        }
        if (*owner != pid) continue;
        XWindowAttributes attrs{};
        X11Window w;
        w.id = children[i];
        w.viewable = XGetWindowAttributes(d, children[i], &attrs) && attrs.map_state == IsViewable;
        w.title = utf8Title(d, children[i], netName, utf8);
        out.push_back(std::move(w));
    }
    if (children) XFree(children);
}

std::vector<X11Window> windowsOn(Display* d, pid_t pid) {
    std::vector<X11Window> out;
    const Atom netPid = XInternAtom(d, "_NET_WM_PID", False);
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    auto* old = XSetErrorHandler(ignoreErrors);
    windowsBelow(d, DefaultRootWindow(d), pid, netPid, netName, utf8, 2, out);
    XSync(d, False);
    XSetErrorHandler(old);
    return out;
}

}  // namespace

std::vector<X11Window> windowsOf(const std::string& display, pid_t pid) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return {};
    auto out = windowsOn(d, pid);
    XCloseDisplay(d);
    return out;
}

TitleWatch::TitleWatch(std::string display, pid_t pid) : display_(std::move(display)), pid_(pid) {
    thread_ = std::thread([this] { run(); });
}

TitleWatch::~TitleWatch() {
    stop_ = true;
    thread_.join();
}

void TitleWatch::run() {
    Display* d = XOpenDisplay(display_.c_str());
    if (!d) return;
    while (!stop_) {
        std::vector<std::string> titles;
        for (const auto& w : windowsOn(d, pid_))
            if (w.viewable && !w.title.empty()) titles.push_back(w.title);
        const double at = wallNow();
        {
            std::lock_guard lock(mutex_);
            for (const auto& t : titles)
                if (std::find(last_.begin(), last_.end(), t) == last_.end()) {
                    seen_.push_back(t);
                    seenAt_.push_back(at);
                }
            last_ = std::move(titles);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(d);
}

std::vector<std::string> TitleWatch::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

bool TitleWatch::saw(const std::string& title) const {
    std::lock_guard lock(mutex_);
    return std::find(seen_.begin(), seen_.end(), title) != seen_.end();
}

bool TitleWatch::waitFor(const std::string& title, double seconds) const {
    return waitUntil([&] { return saw(title); }, seconds);
}

std::optional<double> TitleWatch::firstSeenAt(const std::string& title) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < seen_.size(); ++i)
        if (seen_[i] == title) return seenAt_[i];
    return std::nullopt;
}

void TitleWatch::clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
    seenAt_.clear();
}

bool answers200(int port, const std::string& path) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[64] = {};
            const ssize_t n = recv(fd, buffer, sizeof buffer - 1, 0);
            ok = n > 12 && std::string(buffer, static_cast<std::size_t>(n)).compare(9, 3, "200") == 0;
        }
    }
    close(fd);
    return ok;
}

// ---- the road ----

Road::Road(test::HeadlessDesktop& desktop, test::PulseServer& pulse, Binaries binaries)
    : desktop_(desktop), pulse_(pulse), bin_(std::move(binaries)) {
    char tmpl[] = "/tmp/tovrin-road-XXXXXX";
    if (mkdtemp(tmpl)) scratch_ = tmpl;
}

Road::~Road() {
    stopProgram();
    stopTarget();
    stopRecognizer();
    stopClipboardOwner();
    std::error_code ec;
    if (!scratch_.empty()) fs::remove_all(scratch_, ec);
}

std::vector<std::string> Road::environment(const std::vector<std::string>& extra) const {
    std::vector<std::string> env = desktop_.environment();
    for (const auto& kv : pulse_.environment()) env.push_back(kv);
    for (const auto& kv : extra) env.push_back(kv);
    // Later entries win: keep the last one of each name.
    std::vector<std::string> out;
    for (auto it = env.rbegin(); it != env.rend(); ++it) {
        const std::string name = it->substr(0, it->find('='));
        bool dup = false;
        for (const auto& kept : out)
            if (kept.compare(0, name.size() + 1, name + "=") == 0) dup = true;
        if (!dup) out.push_back(*it);
    }
    return out;
}

std::string Road::configDir() const { return desktop_.home() + "/.config/Tovrin"; }
std::string Road::dataDir() const { return desktop_.home() + "/.local/share/Wendaro"; }
std::string Road::stateDir() const { return desktop_.home() + "/.local/state/Tovrin"; }
std::string Road::databasePath() const { return dataDir() + "/wendaro.db"; }
std::string Road::modelsDir() const { return dataDir() + "/models"; }

void Road::freshUser(const std::string& defaultsJson) {
    std::error_code ec;
    fs::remove_all(configDir(), ec);
    fs::remove_all(dataDir(), ec);
    fs::remove_all(stateDir(), ec);
    writeFile(configDir() + "/defaults.json", defaultsJson);
}

std::optional<std::string> Road::sql(const std::string& statement, bool readOnly) const {
    std::vector<std::string> argv = {"sqlite3"};
    if (readOnly) argv.push_back("-readonly");
    argv.push_back(databasePath());
    argv.push_back(statement);
    if (!readOnly) {
        std::error_code ec;
        fs::create_directories(dataDir(), ec);
    }
    std::string out;
    if (desktop_.run(argv, &out, 10) != 0) return std::nullopt;
    return out;
}

bool Road::startRecognizer(int port) {
    stopRecognizer();
    recognizer_ = launch({bin_.recognizer, bin_.grammar, std::to_string(port), scratch_ + "/recognizer.log",
                          scratch_ + "/last.wav"},
                         environment(), scratch_ + "/recognizer.out");
    return waitUntil([&] { return alive(recognizer_) && answers200(port, "/health"); }, 30, 0.2);
}

void Road::stopRecognizer() {
    stopGroup(recognizer_);
    recognizer_ = -1;
}

std::string Road::recognizerLog() const { return readFile(scratch_ + "/recognizer.log"); }
std::string Road::recognizerLastWav() const { return scratch_ + "/last.wav"; }

bool Road::startTarget(const std::vector<std::string>& command) {
    stopTarget();
    const std::string out = scratch_ + "/target.txt";
    std::error_code ec;
    for (const char* suffix : {"", ".keys", ".keys.releases", ".ready"}) fs::remove(out + suffix, ec);
    std::vector<std::string> argv = command.empty() ? std::vector<std::string>{bin_.target} : command;
    argv.push_back(out);
    target_ = launch(argv, environment({"NO_AT_BRIDGE=1"}));
    if (!waitUntil([&] { return fs::exists(out + ".ready"); }, 20)) return false;
    return waitUntil(
        [&] {
            for (const auto& w : windowsOf(desktop_.display(), target_))
                if (w.viewable && w.title == "e2e target") targetWindow_ = w.id;
            return targetWindow_ != 0;
        },
        10);
}

void Road::stopTarget() {
    stopGroup(target_);
    target_ = -1;
    targetWindow_ = 0;
}

std::string Road::targetText() const { return readFile(scratch_ + "/target.txt"); }
std::string Road::targetKeys() const { return readFile(scratch_ + "/target.txt.keys"); }
std::string Road::targetReleases() const { return readFile(scratch_ + "/target.txt.keys.releases"); }

bool Road::focusTarget() {
    if (!targetWindow_) return false;
    Display* d = XOpenDisplay(desktop_.display().c_str());
    if (!d) return false;
    XSetInputFocus(d, targetWindow_, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    const bool ok = waitUntil(
        [&] {
            Window focused = 0;
            int revert = 0;
            XGetInputFocus(d, &focused, &revert);
            return focused == targetWindow_;
        },
        5);
    XCloseDisplay(d);
    return ok;
}

bool Road::startProgram(const std::vector<std::string>& extraEnv, const std::vector<std::string>& launcher) {
    stopProgram();
    std::vector<std::string> argv = launcher;
    argv.push_back(bin_.program);
    program_ = launch(argv, environment(extraEnv), scratch_ + "/program.log");
    if (program_ <= 0) return false;
    programGroup_ = program_;
    titles_ = std::make_unique<TitleWatch>(desktop_.display(), program_);
    if (!waitUntil(
            [&] {
                for (const auto& w : windowsOf(desktop_.display(), program_))
                    if (w.viewable) return true;
                return false;
            },
            30, 0.05))
        return false;
    // A new user's launch ends with the onboarding window shown and activated, after the keyring
    // has been read (which may take a while). Until that window holds the focus, a focus given
    // to another window can still be taken back by its activation.
    waitUntil([&] { return onboardingFocused(); }, 15, 0.05);
    return true;
}

bool Road::onboardingFocused() const {
    Display* d = XOpenDisplay(desktop_.display().c_str());
    if (!d) return false;
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(d, &focused, &revert);
    bool found = false;
    for (const auto& w : windowsOn(d, program_)) {
        if (!w.viewable || w.title != kOnboardingTitle) continue;
        // The focus may sit on the window or on a window inside it.
        auto* old = XSetErrorHandler(ignoreErrors);
        for (Window at = focused; at != None && at != PointerRoot && !found;) {
            if (at == w.id) {
                found = true;
                break;
            }
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned int n = 0;
            if (!XQueryTree(d, at, &root, &parent, &children, &n)) break;
            if (children) XFree(children);
            if (at == root) break;
            at = parent;
        }
        XSync(d, False);
        XSetErrorHandler(old);
    }
    XCloseDisplay(d);
    return found;
}

void Road::stopProgram() {
    titles_.reset();
    stopGroup(program_);
    program_ = -1;
    if (programGroup_ > 0) kill(-programGroup_, SIGKILL);
    programGroup_ = -1;
}

int Road::quitProgram(double seconds) {
    if (program_ <= 0) return -1;
    kill(program_, SIGTERM);
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(program_, &status, WNOHANG) == program_; }, seconds, 0.02);
    titles_.reset();
    if (!ended) {
        stopGroup(program_);
        program_ = -1;
        return -1;
    }
    program_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Road::programLog() const { return readFile(scratch_ + "/program.log"); }

bool Road::ownClipboard(const std::string& text) {
    stopClipboardOwner();
    const std::string file = scratch_ + "/clip.txt";
    writeFile(file, text);
    clipboardOwner_ = launch({"xclip", "-selection", "clipboard", "-quiet", "-i", file}, environment());
    return waitUntil([&] { return clipboard() == text; }, 10, 0.05);
}

void Road::stopClipboardOwner() {
    stopGroup(clipboardOwner_);
    clipboardOwner_ = -1;
}

std::string Road::clipboard() const {
    std::string out;
    if (desktop_.run({"xclip", "-selection", "clipboard", "-o"}, &out, 5) != 0) return {};
    return out;
}

}  // namespace e2e
