#include "support/SwayStack.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pwd.h>
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

std::string SwayStack::unavailable() {
    if (toolPath().empty()) return "the wlstack tool (../shared/tools/wayland/wlstack.sh) is not there";
    for (const char* program : {"sway", "swaymsg", "foot", "wl-copy", "wl-paste", "wayland-scanner", "setpriv"})
        if (!onPath(program)) return std::string(program) + " is not installed (scripts/install-deps installs it)";
    return {};
}

SwayStack::SwayStack() : tool_(toolPath()) {
    if (const std::string why = unavailable(); !why.empty()) {
        error_ = why;
        return;
    }
    char tmpl[] = "/tmp/tovrin-sway-XXXXXX";
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
    const pid_t up = forkExec({"bash", tool_, "up", "sway", dir_}, env, in, out);
    ::close(in);
    ::close(out);
    int status = -1;
    if (!waitUntil([&] { return waitpid(up, &status, WNOHANG) != 0; }, 120)) {
        kill(-up, SIGKILL);
        waitpid(up, &status, 0);
        status = -1;
    }
    if (status != 0 || !fs::exists(dir_ + "/env")) {
        error_ = "wlstack up sway failed: " + readFile(log);
        return;
    }
    std::stringstream lines(readFile(dir_ + "/env"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("export ", 0) == 0) env_.push_back(line.substr(7, line.find('=') - 7) + "=" +
                                                          unquote(line.substr(line.find('=') + 1)));
        else if (line.rfind("AS=", 0) == 0) as_ = unquote(line.substr(3));
    }
    env_.push_back(env.front());
}

SwayStack::~SwayStack() {
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

void SwayStack::exportEnvironment() const {
    for (const auto& kv : env_) {
        const auto eq = kv.find('=');
        setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
}

pid_t SwayStack::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
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

void SwayStack::stop(pid_t pid) {
    stopGroup(pid);
    std::erase(pids_, pid);
}

int SwayStack::run(const std::vector<std::string>& argv, std::string* output, const std::string& input,
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

bool SwayStack::swaymsg(const std::string& command) {
    std::string out;
    return run({"swaymsg", command}, &out) == 0;
}

bool SwayStack::addConfig(const std::string& lines) {
    {
        std::ofstream config(dir_ + "/sway.conf", std::ios::app);
        config << lines << "\n";
        if (!config) return false;
    }
    return swaymsg("reload");
}

std::string SwayStack::focusedAppId() {
    std::string tree;
    if (run({"swaymsg", "-t", "get_tree", "-r"}, &tree) != 0) return {};
    const auto json = nlohmann::json::parse(tree, nullptr, false);
    std::function<std::string(const nlohmann::json&)> find = [&](const nlohmann::json& node) -> std::string {
        if (node.value("focused", false)) {
            if (node.contains("app_id") && node["app_id"].is_string()) return node["app_id"].get<std::string>();
            if (node.contains("window_properties") && node["window_properties"].contains("class"))
                return node["window_properties"]["class"].get<std::string>();
        }
        for (const char* key : {"nodes", "floating_nodes"})
            if (node.contains(key))
                for (const auto& child : node[key])
                    if (std::string id = find(child); !id.empty()) return id;
        return {};
    };
    return json.is_discarded() ? std::string() : find(json);
}

std::string SwayStack::xwaylandDisplay() const {
    const std::string file = work() + "/display";
    std::error_code ec;
    fs::remove(file, ec);
    if (!const_cast<SwayStack*>(this)->swaymsg("exec sh -c 'echo $DISPLAY > " + file + "'")) return {};
    std::string display;
    waitUntil([&] {
        display = readFile(file);
        return !display.empty() && display.back() == '\n';
    }, 5);
    while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) display.pop_back();
    // XWayland lets in only the compositor's user: let this process's user in too.
    if (!display.empty() && !as_.empty()) {
        const passwd* me = getpwuid(getuid());
        if (!me || const_cast<SwayStack*>(this)->run({"env", "DISPLAY=" + display, "xhost",
                                                       std::string("+si:localuser:") + me->pw_name}) != 0)
            return {};
    }
    return display;
}

bool SwayStack::startField() {
    const std::string tools = fs::path(tool_).parent_path().string() + "/tools";
    spawn({"/usr/bin/python3", tools + "/gtk_field.py", work() + "/field.txt", work() + "/field.events"},
          {"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1"}, work() + "/field.log");
    return waitUntil([&] { return fieldEvents().find("READY") != std::string::npos; }, 20) &&
           waitUntil([&] { return focusedAppId() == "gtk_field.py"; }, 10);
}

std::string SwayStack::fieldText() const { return readFile(work() + "/field.txt"); }
std::string SwayStack::fieldEvents() const { return readFile(work() + "/field.events"); }
std::string SwayStack::log(const std::string& name) const { return readFile(work() + "/" + name + ".log"); }

bool SwayStack::startFootCat(const std::string& path) {
    // Without line buffering every byte reaches cat (and the file) as it is typed or pasted.
    spawn({"foot", "sh", "-c", "stty -icanon; cat > " + path}, {}, work() + "/foot.log");
    return waitUntil([&] { return focusedAppId() == "foot"; }, 20);
}

bool SwayStack::keys(const std::vector<std::string>& steps) {
    std::vector<std::string> argv = {std::string(kToolBuild) + "/vk_keys"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return run(argv, nullptr, {}, 20) == 0;
}

}  // namespace test
