#include "support/KwinStack.h"

#include <cctype>
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
const char* kPortal = "/usr/libexec/xdg-desktop-portal";
const char* kPortalKde = "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde";

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

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string w;
    while (ss >> w) out.push_back(w);
    return out;
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

}  // namespace

std::string KwinStack::unavailable() {
    if (toolPath().empty()) return "the wlstack tool (../shared/tools/wayland/wlstack.sh) is not there";
    for (const char* program : {"kwin_wayland", "kbuildsycoca5", "wl-copy", "wl-paste", "wayland-scanner", "gdbus",
                                "dbus-daemon", "ss"})
        if (!onPath(program)) return std::string(program) + " is not installed (scripts/install-deps installs it)";
    for (const char* file : {kPortal, kPortalKde, "/usr/share/plasma-wayland-protocols/fake-input.xml"})
        if (access(file, R_OK) != 0) return std::string(file) + " is not installed (scripts/install-deps installs it)";
    return {};
}

std::string KwinStack::helpers() { return kToolBuild; }

KwinStack::KwinStack() : tool_(toolPath()) {
    if (const std::string why = unavailable(); !why.empty()) {
        error_ = why;
        return;
    }
    char tmpl[] = "/tmp/tovrin-kwin-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "no scratch folder";
        return;
    }
    dir_ = tmpl;
    std::vector<std::string> env = {"PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"),
                                    std::string("WLSTACK_BUILD=") + kToolBuild, "TMPDIR=/tmp"};
    const std::string log = dir_ + ".up.log";
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t up = forkExec({"bash", tool_, "up", "kwin", dir_}, env, in, out);
    ::close(in);
    ::close(out);
    int status = -1;
    if (!waitUntil([&] { return waitpid(up, &status, WNOHANG) != 0; }, 120)) {
        kill(-up, SIGKILL);
        waitpid(up, &status, 0);
        status = -1;
    }
    if (status != 0 || !fs::exists(dir_ + "/env")) {
        error_ = "wlstack up kwin failed: " + readFile(log);
        return;
    }
    std::stringstream lines(readFile(dir_ + "/env"));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("export ", 0) == 0)
            env_.push_back(line.substr(7, line.find('=') - 7) + "=" + unquote(line.substr(line.find('=') + 1)));
    env_.push_back(env.front());
}

KwinStack::~KwinStack() {
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

void KwinStack::exportEnvironment() const {
    for (const auto& kv : env_) {
        const auto eq = kv.find('=');
        setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
}

pid_t KwinStack::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
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

void KwinStack::stop(pid_t pid) {
    stopGroup(pid);
    std::erase(pids_, pid);
}

int KwinStack::run(const std::vector<std::string>& argv, std::string* output, const std::string& input,
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

std::string KwinStack::xwaylandDisplay() const {
    // KWin itself listens on XWayland's socket.
    std::string compositor = readFile(dir_ + "/pids/compositor");
    while (!compositor.empty() && (compositor.back() == '\n' || compositor.back() == ' ')) compositor.pop_back();
    if (compositor.empty()) return {};
    std::string sockets;
    const_cast<KwinStack*>(this)->run({"ss", "-xlp"}, &sockets);
    std::stringstream lines(sockets);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("pid=" + compositor + ",") == std::string::npos) continue;
        const auto at = line.find("/tmp/.X11-unix/X");
        if (at == std::string::npos) continue;
        std::string number;
        for (size_t i = at + 16; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) number += line[i];
        if (!number.empty()) return ":" + number;
    }
    return {};
}

bool KwinStack::startPortals() {
    spawn({kPortalKde}, {"QT_QPA_PLATFORM=wayland"}, work() + "/portal-kde.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    spawn({kPortal, "-r"}, {}, work() + "/portal.log");
    return waitUntil(
        [&] {
            std::string out;
            return run({"gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                        "org.freedesktop.DBus.NameHasOwner", "org.freedesktop.portal.Desktop"},
                       &out) == 0 &&
                   out.find("true") != std::string::npos;
        },
        15);
}

bool KwinStack::activate(const std::string& resourceClass) {
    const std::string name = "tovrin-activate-" + std::to_string(++scripts_);
    const std::string script = work() + "/" + name + ".js";
    {
        std::ofstream js(script);
        js << "const all = workspace.clientList();\n"
              "for (let i = 0; i < all.length; ++i)\n"
              "    if (all[i].resourceClass == \"" << resourceClass << "\") workspace.activeClient = all[i];\n"
              "print(\"" << name << " ACTIVE \" + (workspace.activeClient ? workspace.activeClient.resourceClass : \"\"));\n";
    }
    auto kwin = [&](const std::vector<std::string>& call) {
        std::vector<std::string> argv = {"gdbus", "call", "--session", "-d", "org.kde.KWin", "-o", "/Scripting", "-m"};
        argv.insert(argv.end(), call.begin(), call.end());
        return run(argv) == 0;
    };
    if (!kwin({"org.kde.kwin.Scripting.loadScript", script, name}) || !kwin({"org.kde.kwin.Scripting.start"})) return false;
    const std::string said = name + " ACTIVE ";
    std::string line;
    waitUntil([&] {
        const std::string log = readFile(dir_ + "/logs/compositor.log");
        const auto at = log.find(said);
        if (at == std::string::npos) return false;
        line = log.substr(at + said.size(), log.find('\n', at) - at - said.size());
        return true;
    }, 5);
    kwin({"org.kde.kwin.Scripting.unloadScript", name});
    return line == resourceClass;
}

bool KwinStack::startField() {
    const std::string tools = fs::path(tool_).parent_path().string() + "/tools";
    spawn({"/usr/bin/python3", tools + "/gtk_field.py", work() + "/field.txt", work() + "/field.events"},
          {"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1"}, work() + "/field.log");
    return waitUntil([&] { return fieldEvents().find("READY") != std::string::npos; }, 20) && activate("gtk_field.py");
}

std::string KwinStack::fieldText() const { return readFile(work() + "/field.txt"); }
std::string KwinStack::fieldEvents() const { return readFile(work() + "/field.events"); }

bool KwinStack::startQtField() {
    spawn({std::string(kToolBuild) + "/qt_probe", "field", work() + "/qtfield.txt"}, {"QT_QPA_PLATFORM=wayland"},
          work() + "/qtfield.log");
    return waitUntil([&] { return log("qtfield").find("FOCUS-IN") != std::string::npos; }, 20) && activate("qt_probe");
}

std::string KwinStack::qtFieldText() const { return readFile(work() + "/qtfield.txt"); }
std::string KwinStack::log(const std::string& name) const { return readFile(work() + "/" + name + ".log"); }

bool KwinStack::keys(const std::vector<std::string>& steps) {
    std::vector<std::string> argv = {std::string(kToolBuild) + "/kde_fakekey"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return run(argv, nullptr, {}, 20) == 0;
}

}  // namespace test
