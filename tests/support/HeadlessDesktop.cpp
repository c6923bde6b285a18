#include "support/HeadlessDesktop.h"

#include <gio/gio.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
    return s;
}

// fork + exec with an environment; `stdinData` is fed to the child's standard input, its
// standard output goes to `outFile` when given.
pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& outFile,
             const std::string& stdinData = {}, int extraFd = -1) {
    int inPipe[2] = {-1, -1};
    if (pipe(inPipe) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(inPipe[0], 0);
        close(inPipe[1]);
        int devnull = open("/dev/null", O_WRONLY);
        int out = outFile.empty() ? devnull : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(devnull, 2);
        if (extraFd >= 0) dup2(extraFd, 3);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(inPipe[0]);
    if (!stdinData.empty()) {
        ssize_t unused = write(inPipe[1], stdinData.data(), stdinData.size());
        (void)unused;
    }
    close(inPipe[1]);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool waitFor(double seconds, const std::function<bool()>& ready) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return ready();
}

}  // namespace

HeadlessDesktop::HeadlessDesktop(Options options) {
    char tmpl[] = "/tmp/tovrin-desktop-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "cannot create a scratch folder";
        return;
    }
    root_ = tmpl;
    home_ = root_ + "/home";
    runtime_ = root_ + "/runtime";
    for (const auto& d : {home_, runtime_, home_ + "/.config", home_ + "/.local/share", home_ + "/.local/state",
                          home_ + "/.cache"})
        fs::create_directories(d);
    chmod(runtime_.c_str(), 0700);
    if (options.display && !startXvfb()) return;
    if (options.tray && !startTray()) return;
    if (options.keyring && !startKeyring()) return;
}

HeadlessDesktop::~HeadlessDesktop() {
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) stop(*it);
    if (!root_.empty()) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

std::vector<std::string> HeadlessDesktop::environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        const std::string key = kv.substr(0, kv.find('='));
        // A Wayland session's variables would make the program treat the private display as
        // XWayland under a compositor.
        if (key == "DISPLAY" || key == "HOME" || key.rfind("XDG_", 0) == 0 || key == "DBUS_SESSION_BUS_ADDRESS" ||
            key == "QT_QPA_PLATFORM" || key == "WAYLAND_DISPLAY" || key == "SWAYSOCK")
            continue;
        env.push_back(kv);
    }
    env.push_back("HOME=" + home_);
    env.push_back("XDG_CONFIG_HOME=" + home_ + "/.config");
    env.push_back("XDG_DATA_HOME=" + home_ + "/.local/share");
    env.push_back("XDG_STATE_HOME=" + home_ + "/.local/state");
    env.push_back("XDG_CACHE_HOME=" + home_ + "/.cache");
    env.push_back("XDG_RUNTIME_DIR=" + runtime_);
    if (!display_.empty()) {
        env.push_back("DISPLAY=" + display_);
        env.push_back("QT_QPA_PLATFORM=xcb");
    } else {
        env.push_back("QT_QPA_PLATFORM=offscreen");
    }
    if (!bus_.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_);
    return env;
}

void HeadlessDesktop::exportEnvironment() const {
    for (const auto& kv : environment()) {
        const auto eq = kv.find('=');
        setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
    if (display_.empty()) unsetenv("DISPLAY");
    if (bus_.empty()) unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

pid_t HeadlessDesktop::spawn(const std::vector<std::string>& argv) {
    const pid_t pid = launch(argv, environment(), {});
    if (pid > 0) pids_.push_back(pid);
    return pid;
}

int HeadlessDesktop::run(const std::vector<std::string>& argv, std::string* output, double timeoutSeconds) {
    const std::string outFile = root_ + "/run-output";
    const pid_t pid = launch(argv, environment(), outFile);
    if (pid < 0) return -1;
    int status = 0;
    const bool done = waitFor(timeoutSeconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!done) {
        stop(pid);
        return -1;
    }
    if (output) *output = readFile(outFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HeadlessDesktop::startXvfb() {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const pid_t pid = launch({"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                             environment(), {}, {}, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        error_ = "cannot start Xvfb";
        return false;
    }
    pids_.push_back(pid);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string number;
    waitFor(10, [&] {
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) number.append(buf, static_cast<std::size_t>(n));
        return number.find('\n') != std::string::npos;
    });
    close(fds[0]);
    number = trim(number);
    if (number.empty()) {
        error_ = "Xvfb did not report a display";
        return false;
    }
    display_ = ":" + number;
    return true;
}

bool HeadlessDesktop::startTray() {
    if (spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height",
               "30"}) < 0) {
        error_ = "cannot start trayer";
        return false;
    }
    // The tray host owns the _NET_SYSTEM_TRAY_S0 selection once it is up.
    std::string out;
    const bool up = waitFor(30, [&] {
        run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, nullptr, 2);
        return run({"sh", "-c", "xdpyinfo >/dev/null 2>&1 && xprop -root | grep -q . "}, &out, 2) == 0 &&
               run({"sh", "-c", "xwininfo -root -tree | grep -qi trayer"}, nullptr, 2) == 0;
    });
    if (!up) {
        error_ = "tray host did not come up";
        return false;
    }
    return true;
}

namespace {
constexpr const char* kLoginCollection = "/org/freedesktop/secrets/collection/login";
// The keyring is created with this password (what gnome-keyring-daemon --unlock reads).
constexpr const char* kKeyringPassword = "\n";
}  // namespace

bool HeadlessDesktop::lockKeyring() {
    return run({"gdbus", "call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.Lock",
                std::string("['") + kLoginCollection + "']"},
               nullptr, 10) == 0;
}

bool HeadlessDesktop::unlockKeyring() {
    // gnome-keyring takes the password through a plain session on one connection.
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        bus_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        g_error_free(error);
        return false;
    }
    bool ok = false;
    GVariant* opened = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "OpenSession",
        g_variant_new("(sv)", "plain", g_variant_new_string("")), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (opened) {
        GVariant* output = nullptr;
        const char* session = nullptr;
        g_variant_get(opened, "(v&o)", &output, &session);
        GVariant* secret = g_variant_new(
            "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, kKeyringPassword, std::strlen(kKeyringPassword), 1),
            "text/plain");
        GVariant* unlocked = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
            "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
            g_variant_new("(o@(oayays))", kLoginCollection, secret), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            &error);
        ok = unlocked != nullptr;
        if (unlocked) g_variant_unref(unlocked);
        g_variant_unref(output);
        g_variant_unref(opened);
    }
    if (error) g_error_free(error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return ok;
}

void HeadlessDesktop::stopBus() {
    for (pid_t* pid : {&keyringPid_, &busPid_}) {
        if (*pid <= 0) continue;
        kill(*pid, SIGKILL);
        waitpid(*pid, nullptr, 0);
        std::erase(pids_, *pid);
        *pid = -1;
    }
}

bool HeadlessDesktop::restartBus() {
    if (bus_.empty()) return false;
    // The listening part of the address, without the old bus's guid; a killed bus leaves its
    // socket file behind.
    std::string address = bus_.substr(0, bus_.find(",guid="));
    std::error_code ec;
    if (address.rfind("unix:path=", 0) == 0) fs::remove(address.substr(std::strlen("unix:path=")), ec);
    return startKeyring(address);
}

bool HeadlessDesktop::startKeyring(const std::string& address) {
    const std::string out = root_ + "/dbus-address";
    std::error_code ec;
    fs::remove(out, ec);
    std::vector<std::string> argv{"dbus-daemon", "--session", "--nofork", "--print-address=1"};
    if (!address.empty()) argv.push_back("--address=" + address);
    const pid_t dbus = launch(argv, environment(), out);
    if (dbus < 0) {
        error_ = "cannot start dbus-daemon";
        return false;
    }
    pids_.push_back(dbus);
    busPid_ = dbus;
    if (!waitFor(10, [&] { return readFile(out).find('\n') != std::string::npos; })) {
        error_ = "dbus-daemon did not report its address";
        return false;
    }
    bus_ = trim(readFile(out));
    const pid_t keyring = launch({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                                 environment(), {}, "\n");
    if (keyring < 0) {
        error_ = "cannot start gnome-keyring-daemon";
        return false;
    }
    pids_.push_back(keyring);
    keyringPid_ = keyring;
    // Ready once the secret service answers on the bus.
    const bool up = waitFor(30, [&] {
        return run({"secret-tool", "search", "--all", "service", "tovrin-probe"}, nullptr, 3) >= 0 &&
               run({"sh", "-c",
                    "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                    "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q 'boolean true'"},
                   nullptr, 3) == 0;
    });
    if (!up) {
        error_ = "the secret service did not come up";
        return false;
    }
    return true;
}

}  // namespace test
