#include "support/WlStack.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool waitFor(const std::function<bool()>& ready, double seconds) {
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
    if (!waitFor([&] { return waitpid(pid, &status, WNOHANG) != 0; }, 3)) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    kill(-pid, SIGKILL);
}

}  // namespace

std::string WlStack::missing(std::initializer_list<const char*> programs, std::initializer_list<const char*> files) {
    if (toolPath().empty()) return "the wlstack tool (../shared/tools/wayland/wlstack.sh) is not there";
    for (const char* program : programs)
        if (!onPath(program)) return std::string(program) + " is not installed (scripts/install-deps installs it)";
    for (const char* file : files)
        if (access(file, R_OK) != 0) return std::string(file) + " is not installed (scripts/install-deps installs it)";
    return {};
}

bool WlStack::waitUntil(const std::function<bool()>& ready, double seconds) { return waitFor(ready, seconds); }

std::string WlStack::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string WlStack::helpers() { return kToolBuild; }

WlStack::WlStack(const std::string& compositor, const std::string& unavailable) : tool_(toolPath()) {
    if (!unavailable.empty()) {
        error_ = unavailable;
        return;
    }
    std::string tmpl = "/tmp/tovrin-" + compositor + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        error_ = "no scratch folder";
        return;
    }
    dir_ = tmpl;
    const std::string path = "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    const std::string log = dir_ + ".up.log";
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t up = forkExec({"bash", tool_, "up", compositor, dir_},
                              {path, std::string("WLSTACK_BUILD=") + kToolBuild, "TMPDIR=/tmp"}, in, out);
    ::close(in);
    ::close(out);
    int status = -1;
    if (!waitUntil([&] { return waitpid(up, &status, WNOHANG) != 0; }, 120)) {
        kill(-up, SIGKILL);
        waitpid(up, &status, 0);
        status = -1;
    }
    if (status != 0 || !fs::exists(dir_ + "/env")) {
        error_ = "wlstack up " + compositor + " failed: " + readFile(log);
        return;
    }
    std::stringstream lines(readFile(dir_ + "/env"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("export ", 0) == 0) env_.push_back(line.substr(7, line.find('=') - 7) + "=" +
                                                          unquote(line.substr(line.find('=') + 1)));
        else if (line.rfind("AS=", 0) == 0) as_ = unquote(line.substr(3));
    }
    env_.push_back(path);
}

WlStack::~WlStack() {
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

std::string WlStack::variable(const std::string& name) const {
    for (const auto& kv : env_)
        if (kv.rfind(name + "=", 0) == 0) return kv.substr(name.size() + 1);
    return {};
}

void WlStack::exportEnvironment() const {
    for (const auto& kv : env_) {
        const auto eq = kv.find('=');
        setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
}

pid_t WlStack::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                     const std::string& logPath) {
    std::vector<std::string> full = words(as_);
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<std::string> env = env_;
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = logPath.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                                    : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t pid = forkExec(full, env, in, out);
    ::close(in);
    ::close(out);
    if (pid > 0) pids_.push_back(pid);
    return pid;
}

void WlStack::stop(pid_t pid) {
    stopGroup(pid);
    std::erase(pids_, pid);
}

int WlStack::run(const std::vector<std::string>& argv, std::string* output, const std::string& input,
                 double timeoutSeconds) {
    std::vector<std::string> full = words(as_);
    full.insert(full.end(), argv.begin(), argv.end());
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return -1;
    if (pipe2(fromChild, O_CLOEXEC) != 0) return -1;
    const pid_t pid = forkExec(full, env_, toChild[0], fromChild[1]);
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

std::string WlStack::fieldText() const { return readFile(work() + "/field.txt"); }
std::string WlStack::fieldEvents() const { return readFile(work() + "/field.events"); }
std::string WlStack::log(const std::string& name) const { return readFile(work() + "/" + name + ".log"); }

std::string WlStack::tools() const { return fs::path(tool_).parent_path().string() + "/tools"; }

pid_t WlStack::spawnField(const std::string& gdkBackend) {
    return spawn({"/usr/bin/python3", tools() + "/gtk_field.py", work() + "/field.txt", work() + "/field.events"},
                 {"GDK_BACKEND=" + gdkBackend, "NO_AT_BRIDGE=1"}, work() + "/field.log");
}

bool WlStack::fieldReady() const {
    return waitUntil([&] { return fieldEvents().find("READY") != std::string::npos; }, 20);
}

bool WlStack::hasBusName(const std::string& name, double timeoutSeconds) {
    std::string out;
    return run({"gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                "org.freedesktop.DBus.NameHasOwner", name},
               &out, {}, timeoutSeconds) == 0 &&
           out.find("true") != std::string::npos;
}

bool WlStack::runKeys(const std::string& helper, const std::vector<std::string>& steps) {
    std::vector<std::string> argv = {helpers() + "/" + helper};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return run(argv, nullptr, {}, 20) == 0;
}

}  // namespace test
