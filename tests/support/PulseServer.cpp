#include "support/PulseServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::string makeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tovrin-pulse-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return {};
    return std::string(buf.data());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The current environment with `overrides` ("NAME=value") replacing or adding variables.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& o : overrides)
            if (o.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) out.push_back(entry);
    }
    out.insert(out.end(), overrides.begin(), overrides.end());
    return out;
}

pid_t spawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const std::string& stdoutPath, const std::string& stderrPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

// Runs to completion (bounded); exit status 0 gives true. Output goes to `stdoutPath`.
bool runWith(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& stdoutPath, double timeoutSeconds) {
    pid_t pid = spawnWith(argv, env, stdoutPath, {});
    if (pid <= 0) return false;
    return PulseServer::waitProcess(pid, timeoutSeconds);
}

}  // namespace

PulseServer::PulseServer() : PulseServer(Options{}) {}

PulseServer::PulseServer(Options options) : options_(std::move(options)) {}

PulseServer::~PulseServer() {
    stop();
    if (!root_.empty()) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

std::vector<PulseServer::Mic> PulseServer::mics() const {
    std::vector<Mic> all{Mic{"micfeed", "vmic", "Virtual Microphone", 48000, 2}};
    all.insert(all.end(), options_.extraMics.begin(), options_.extraMics.end());
    return all;
}

std::string PulseServer::address() const { return "unix:" + socket_; }

std::vector<std::string> PulseServer::environment() const {
    return {"HOME=" + home_, "XDG_RUNTIME_DIR=" + runtime_, "PULSE_SERVER=" + address(),
            "PULSE_COOKIE=" + home_ + "/.config/pulse/cookie"};
}

bool PulseServer::writeConfig(const std::string& path) const {
    std::ofstream out(path);
    auto quoted = [](const std::string& s) { return "\"" + s + "\""; };
    out << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_ << "\n";
    out << "load-module module-null-sink sink_name=spk sink_properties=device.description=Speakers\n";
    for (const auto& m : mics()) {
        out << "load-module module-null-sink sink_name=" << m.feedSink << " rate=" << m.rate
            << " channels=" << m.channels << " sink_properties=device.description=" << m.feedSink << "\n";
        out << "load-module module-remap-source master=" << m.feedSink << ".monitor source_name=" << m.source
            << " source_properties=" << quoted("device.description='" + m.description + "'") << "\n";
    }
    out << "set-default-sink spk\n";
    out << "set-default-source vmic\n";
    return static_cast<bool>(out);
}

bool PulseServer::start() {
    if (isRunning()) return true;
    error_.clear();
    if (root_.empty()) root_ = makeTempFolder();
    if (root_.empty()) {
        error_ = "cannot make a temporary folder";
        return false;
    }
    home_ = root_ + "/home";
    runtime_ = root_ + "/run";
    socket_ = runtime_ + "/pulse/native";
    std::error_code ec;
    fs::create_directories(home_, ec);
    fs::create_directories(runtime_ + "/pulse", ec);
    fs::permissions(runtime_, fs::perms::owner_all, ec);
    const std::string config = root_ + "/server.pa";
    if (!writeConfig(config)) {
        error_ = "cannot write " + config;
        return false;
    }

    const std::string log = root_ + "/pulse.log";
    daemon_ = spawnWith({"pulseaudio", "-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1",
                         "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-target=stderr"},
                        mergedEnvironment(environment()), {}, log);
    if (daemon_ <= 0) {
        daemon_ = -1;
        error_ = "cannot start pulseaudio";
        return false;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool up = false;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(daemon_, &status, WNOHANG) == daemon_) {
            daemon_ = -1;
            error_ = "pulseaudio exited: " + readFile(log);
            return false;
        }
        if (pactl({"info"}, 2)) {
            up = true;
            break;
        }
        sleepFor(0.05);
    }
    if (!up) {
        error_ = "pulseaudio did not answer: " + readFile(log);
        stop();
        return false;
    }

    savedServer_ = std::getenv("PULSE_SERVER") ? std::optional<std::string>(std::getenv("PULSE_SERVER"))
                                               : std::nullopt;
    savedCookie_ = std::getenv("PULSE_COOKIE") ? std::optional<std::string>(std::getenv("PULSE_COOKIE"))
                                               : std::nullopt;
    setenv("PULSE_SERVER", address().c_str(), 1);
    setenv("PULSE_COOKIE", (home_ + "/.config/pulse/cookie").c_str(), 1);
    exported_ = true;

    // Silence into every feed sink (and the speakers) keeps them running.
    auto feed = [this](const std::string& sink, int rate, int channels) {
        pid_t p = spawn({"pacat", "--playback", "--device=" + sink, "--raw", "--format=s16le",
                         "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                         "--latency-msec=" + std::to_string(options_.feederLatencyMsec), "/dev/zero"});
        if (p > 0) helpers_.push_back(p);
    };
    feed("spk", 44100, 2);
    for (const auto& m : mics()) feed(m.feedSink, m.rate, m.channels);

    if (options_.warmUp) {
        std::vector<pid_t> readers;
        for (const auto& m : mics()) {
            pid_t p = spawn({"parec", "--device=" + m.source, "--raw"});
            if (p > 0) readers.push_back(p);
        }
        sleepFor(2.5);
        for (pid_t p : readers) stopProcess(p);
    }
    return true;
}

void PulseServer::freeze(bool frozen) const {
    if (daemon_ > 0) kill(daemon_, frozen ? SIGSTOP : SIGCONT);
}

void PulseServer::stop() {
    if (daemon_ > 0) kill(daemon_, SIGCONT);
    for (pid_t p : helpers_) stopProcess(p);
    helpers_.clear();
    if (daemon_ > 0) {
        stopProcess(daemon_);
        daemon_ = -1;
    }
    if (exported_) {
        if (savedServer_) setenv("PULSE_SERVER", savedServer_->c_str(), 1); else unsetenv("PULSE_SERVER");
        if (savedCookie_) setenv("PULSE_COOKIE", savedCookie_->c_str(), 1); else unsetenv("PULSE_COOKIE");
        exported_ = false;
    }
}

pid_t PulseServer::spawn(const std::vector<std::string>& argv, const std::string& stdoutPath) const {
    return spawnWith(argv, mergedEnvironment(environment()), stdoutPath, {});
}

std::optional<std::string> PulseServer::pactl(const std::vector<std::string>& args, double timeoutSeconds) const {
    if (root_.empty()) return std::nullopt;
    static int counter = 0;
    const std::string out = root_ + "/pactl-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".out";
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    bool ok = runWith(argv, mergedEnvironment(environment()), out, timeoutSeconds);
    std::string text = readFile(out);
    std::error_code ec;
    fs::remove(out, ec);
    if (!ok) return std::nullopt;
    return text;
}

std::optional<bool> PulseServer::sinkMuted(const std::string& sink) const {
    auto out = pactl({"get-sink-mute", sink});
    if (!out) return std::nullopt;
    if (out->find("yes") != std::string::npos) return true;
    if (out->find("no") != std::string::npos) return false;
    return std::nullopt;
}

bool PulseServer::setSinkMuted(bool muted, const std::string& sink) const {
    return pactl({"set-sink-mute", sink, muted ? "1" : "0"}).has_value();
}

bool PulseServer::setDefaultSource(const std::string& source) const {
    return pactl({"set-default-source", source}).has_value();
}

pid_t PulseServer::playAsync(const std::string& file, const std::string& feedSink) const {
    return spawn({"paplay", "--device=" + feedSink, file});
}

bool PulseServer::play(const std::string& file, const std::string& feedSink, double timeoutSeconds) const {
    pid_t p = playAsync(file, feedSink);
    return p > 0 && waitProcess(p, timeoutSeconds);
}

pid_t PulseServer::sayAsync(const std::string& text, const std::string& feedSink) const {
    // Text and sink travel as positional arguments, never through the shell's parser.
    return spawn({"/bin/sh", "-c", "espeak-ng -v en-us -s 150 --stdout \"$1\" | paplay --device=\"$2\"", "sh",
                  text, feedSink});
}

bool PulseServer::say(const std::string& text, const std::string& feedSink, double timeoutSeconds) const {
    pid_t p = sayAsync(text, feedSink);
    return p > 0 && waitProcess(p, timeoutSeconds);
}

bool PulseServer::speak(const std::string& text, const std::string& wavPath) {
    return runWith({"espeak-ng", "-v", "en-us", "-s", "150", "-w", wavPath, text}, mergedEnvironment({}), {}, 30);
}

std::optional<std::vector<short>> PulseServer::readAs16kMono(const std::string& file) {
    const std::string raw = file + ".16k.raw";
    if (!runWith({"sox", file, "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer", "-t", "raw", raw},
                 mergedEnvironment({}), {}, 30))
        return std::nullopt;
    std::string bytes = readFile(raw);
    std::error_code ec;
    fs::remove(raw, ec);
    std::vector<short> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

bool PulseServer::waitProcess(pid_t pid, double timeoutSeconds) {
    if (pid <= 0) return false;
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0) return false;
        if (Clock::now() >= deadline) {
            stopProcess(pid);
            return false;
        }
        sleepFor(0.01);
    }
}

void PulseServer::stopProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || r < 0) break;
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        sleepFor(0.01);
    }
}

}  // namespace test
