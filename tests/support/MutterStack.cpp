#include "support/MutterStack.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test {

namespace {

// Helpers the tool builds, kept between runs (it rebuilds them when its sources change).
const char* kToolBuild = "/tmp/tovrin-wlstack-build";

std::string toolPath() {
    if (const char* given = std::getenv("TOVRIN_WLSTACK"); given && *given) return given;
    for (const char* up : {"/../shared", "/../../shared"}) {
        const std::string path = std::string(TOVRIN_SOURCE_DIR) + up + "/tools/wayland/wlstack.sh";
        if (fs::exists(path)) return fs::weakly_canonical(path).string();
    }
    return {};
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool waitUntil(const std::function<bool()>& ready, double seconds) {
    const double deadline = now() + seconds;
    while (now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

// The value of a line `export NAME=value` as bash's printf %q wrote it (backslash escapes).
std::string unquote(const std::string& q) {
    std::string out;
    for (size_t i = 0; i < q.size(); ++i) {
        if (q[i] == '\\' && i + 1 < q.size()) out += q[++i];
        else if (q[i] != '\'') out += q[i];
    }
    return out;
}

pid_t forkExec(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args, envp;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

void stopGroup(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, 3)) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    kill(-pid, SIGKILL);
}

std::string pathVariable() { return "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"); }

}  // namespace

std::string MutterStack::unavailable() {
    if (toolPath().empty()) return "the wlstack tool (../shared/tools/wayland/wlstack.sh) is not there";
    for (const char* program : {"mutter", "Xwayland", "xdotool", "wl-copy", "wl-paste", "gdbus"})
        if (!onPath(program)) return std::string(program) + " is not installed (scripts/install-deps installs it)";
    for (const char* file : {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome"})
        if (access(file, X_OK) != 0) return std::string(file) + " is not installed (scripts/install-deps installs it)";
    return {};
}

MutterStack::MutterStack() : tool_(toolPath()) {
    if (const std::string why = unavailable(); !why.empty()) {
        error_ = why;
        return;
    }
    char tmpl[] = "/tmp/tovrin-mutter-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "no scratch folder";
        return;
    }
    dir_ = tmpl;
    const std::string log = dir_ + ".up.log";
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t up = forkExec({"bash", tool_, "up", "mutter", dir_},
                              {pathVariable(), std::string("WLSTACK_BUILD=") + kToolBuild, "TMPDIR=/tmp"}, in, out);
    ::close(in);
    ::close(out);
    int status = -1;
    if (!waitUntil([&] { return waitpid(up, &status, WNOHANG) != 0; }, 120)) {
        kill(-up, SIGKILL);
        waitpid(up, &status, 0);
        status = -1;
    }
    if (status != 0 || !fs::exists(dir_ + "/env")) {
        error_ = "wlstack up mutter failed: " + readFile(log);
        return;
    }
    std::stringstream lines(readFile(dir_ + "/env"));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("export ", 0) == 0)
            env_.push_back(line.substr(7, line.find('=') - 7) + "=" + unquote(line.substr(line.find('=') + 1)));
    env_.push_back(pathVariable());
    if (variable("DISPLAY").empty()) error_ = "mutter started no XWayland";
}

MutterStack::~MutterStack() {
    for (pid_t pid : pids_) stopGroup(pid);
    if (dir_.empty()) return;
    if (fs::exists(dir_ + "/stack.id")) {
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        const pid_t down = forkExec({"bash", tool_, "down", dir_}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, null, null);
        ::close(null);
        int status = 0;
        if (!waitUntil([&] { return waitpid(down, &status, WNOHANG) != 0; }, 30)) stopGroup(down);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove(dir_ + ".up.log", ec);
}

std::string MutterStack::variable(const std::string& name) const {
    for (const auto& kv : env_)
        if (kv.rfind(name + "=", 0) == 0) return kv.substr(name.size() + 1);
    return {};
}

pid_t MutterStack::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                         const std::string& logPath) {
    std::vector<std::string> env = env_;
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = logPath.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                                    : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t pid = forkExec(argv, env, in, out);
    ::close(in);
    ::close(out);
    if (pid > 0) pids_.push_back(pid);
    return pid;
}

void MutterStack::stop(pid_t pid) {
    stopGroup(pid);
    std::erase(pids_, pid);
}

int MutterStack::run(const std::vector<std::string>& argv, std::string* output, const std::string& input,
                     double timeoutSeconds) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return -1;
    if (pipe2(fromChild, O_CLOEXEC) != 0) return -1;
    const pid_t pid = forkExec(argv, env_, toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (!input.empty() && ::write(toChild[1], input.data(), input.size()) < 0) {
    }
    ::close(toChild[1]);
    // Read until the command has ended (a helper it leaves in the background may keep the pipe).
    std::string out;
    const double deadline = now() + timeoutSeconds;
    fcntl(fromChild[0], F_SETFL, O_NONBLOCK);
    int status = 0;
    bool ended = false;
    while (!ended && now() < deadline) {
        pollfd p{fromChild[0], POLLIN, 0};
        poll(&p, 1, 20);
        ended = waitpid(pid, &status, WNOHANG) == pid;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fromChild[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fromChild[0]);
    if (!ended) {
        stopGroup(pid);
        return -1;
    }
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MutterStack::hasBusName(const std::string& name) {
    std::string out;
    return run({"gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                "org.freedesktop.DBus.NameHasOwner", name},
               &out, {}, 3) == 0 &&
           out.find("true") != std::string::npos;
}

bool MutterStack::startPortal() {
    // The backend first, on XWayland: the frontend would otherwise have the bus start it natively.
    spawn({"/usr/libexec/xdg-desktop-portal-gnome", "-r"}, {"GDK_BACKEND=x11"}, work() + "/portal-gnome.log");
    if (!waitUntil([&] { return hasBusName("org.freedesktop.impl.portal.desktop.gnome"); }, 15)) return false;
    spawn({"/usr/libexec/xdg-desktop-portal", "-r"}, {}, work() + "/portal.log");
    return waitUntil([&] { return hasBusName("org.freedesktop.portal.Desktop"); }, 15);
}

bool MutterStack::answerConsent(bool allow) {
    const auto dialog = [&] {
        std::string found;
        run({"xdotool", "search", "--onlyvisible", "--name", "^Remote desktop$"}, &found, {}, 3);
        return found.substr(0, found.find('\n'));
    };
    std::string window;
    if (!waitUntil([&] { return !(window = dialog()).empty(); }, 15)) return false;
    // Clicks go to whatever is on top at that spot: the program's own first window may open over
    // the dialog, so the dialog is raised before each click. It draws itself a moment after it maps.
    const auto click = [&](const char* x, const char* y) {
        run({"xdotool", "windowactivate", window});
        run({"xdotool", "windowraise", window});
        waitUntil([] { return false; }, 0.5);
        run({"xdotool", "mousemove", "--window", window, x, y, "click", "1"});
    };
    waitUntil([] { return false; }, 0.5);
    if (allow) click("468", "128");  // "Allow remote interaction" (Share stays greyed until it is on)
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (allow) click("493", "77");  // Share
        else click("86", "77");         // Cancel
        if (waitUntil([&] { return dialog().empty(); }, 3)) return true;
    }
    return false;
}

bool MutterStack::startField(bool onXWayland) {
    if (field_ > 0) stop(field_);
    std::error_code ec;
    for (const char* name : {"/field.txt", "/field.events"}) fs::remove(work() + name, ec);
    const std::string tools = fs::path(tool_).parent_path().string() + "/tools";
    field_ = spawn({"/usr/bin/python3", tools + "/gtk_field.py", work() + "/field.txt", work() + "/field.events"},
                   {onXWayland ? "GDK_BACKEND=x11" : "GDK_BACKEND=wayland", "NO_AT_BRIDGE=1"}, work() + "/field.log");
    return waitUntil([&] { return fieldEvents().find("READY") != std::string::npos; }, 20) &&
           waitUntil([&] { return fieldEvents().find("FOCUS-IN") != std::string::npos; }, 10);
}

std::string MutterStack::fieldText() const { return readFile(work() + "/field.txt"); }
std::string MutterStack::fieldEvents() const { return readFile(work() + "/field.events"); }
std::string MutterStack::log(const std::string& name) const { return readFile(work() + "/" + name + ".log"); }

}  // namespace test
