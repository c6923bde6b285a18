// A private PulseAudio daemon for integration tests: a speaker null sink "spk" (the default
// sink) and a virtual microphone "vmic" (the default source, 48 kHz stereo) fed through the null
// sink "micfeed". Anything played into "micfeed" is what "vmic" records. A silent feeder keeps
// the feed sinks running (an idle null sink delivers in bursts) and one warm-up capture per
// microphone is done before start() returns, so captures start promptly afterwards.
//
// The daemon lives in a fresh folder (its own HOME and XDG_RUNTIME_DIR); start() points this
// process at it (PULSE_SERVER, PULSE_COOKIE) and stop() restores those variables. Every process
// started here is stopped by PID. Needs no Qt and no gtest, so benchmarks can use it too.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class PulseServer {
public:
    struct Mic {
        std::string feedSink;     // null sink that is played into
        std::string source;       // remapped source of its monitor, the microphone
        std::string description;  // the source's human-readable name
        int rate = 48000;
        int channels = 2;
    };
    struct Options {
        // Microphones besides the default one ("micfeed" -> "vmic").
        std::vector<Mic> extraMics;
        bool warmUp = true;
        // Latency the silent feeders ask for. A null sink renders (and its monitor delivers) at
        // about this pace: lower means captures start sooner but wake the reader more often.
        int feederLatencyMsec = 50;
    };

    PulseServer();
    explicit PulseServer(Options options);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Starts the daemon and waits (at most ~10 s) until it answers. False with error() set when
    // it does not.
    bool start();
    // Stops everything started here; harmless when nothing runs.
    void stop();
    bool isRunning() const { return daemon_ > 0; }
    // Stops (SIGSTOP) or resumes (SIGCONT) the daemon: a server that accepts but never answers.
    void freeze(bool frozen) const;
    const std::string& error() const { return error_; }

    const std::string& folder() const { return root_; }   // removed by the destructor
    std::string address() const;                          // "unix:<socket>"
    // "NAME=value" strings that point a child process at this server.
    std::vector<std::string> environment() const;

    // Runs pactl against the server; its standard output, or nullopt when it fails.
    std::optional<std::string> pactl(const std::vector<std::string>& args, double timeoutSeconds = 5) const;
    // Mute state of a sink ("@DEFAULT_SINK@" by default) as pactl reads it.
    std::optional<bool> sinkMuted(const std::string& sink = "@DEFAULT_SINK@") const;
    bool setSinkMuted(bool muted, const std::string& sink = "@DEFAULT_SINK@") const;
    bool setDefaultSource(const std::string& source) const;

    // Plays an audio file (anything paplay reads) into a feed sink and waits until it has played.
    bool play(const std::string& file, const std::string& feedSink = "micfeed", double timeoutSeconds = 30) const;
    // The same in the background; returns the player's PID (see waitProcess / stopProcess).
    pid_t playAsync(const std::string& file, const std::string& feedSink = "micfeed") const;
    // Speaks `text` with espeak-ng into a feed sink and waits until it has played.
    bool say(const std::string& text, const std::string& feedSink = "micfeed", double timeoutSeconds = 30) const;
    pid_t sayAsync(const std::string& text, const std::string& feedSink = "micfeed") const;

    // Writes espeak-ng speech as a WAV file (22.05 kHz mono). True on success.
    static bool speak(const std::string& text, const std::string& wavPath);
    // Converts an audio file to raw 16 kHz mono signed 16-bit samples with sox.
    static std::optional<std::vector<short>> readAs16kMono(const std::string& file);

    // Waits for a process started here to end (killing it after the time-out); true when it
    // exited with status 0 in time.
    static bool waitProcess(pid_t pid, double timeoutSeconds);
    // Stops a process (and its process group) by PID: TERM, then KILL.
    static void stopProcess(pid_t pid);

    // Starts `argv` with the server's environment in a process group of its own; stdout goes to
    // `stdoutPath` when given (else /dev/null), stdin comes from /dev/null.
    pid_t spawn(const std::vector<std::string>& argv, const std::string& stdoutPath = {}) const;

private:
    bool writeConfig(const std::string& path) const;
    std::vector<Mic> mics() const;

    Options options_;
    std::string root_;
    std::string home_;
    std::string runtime_;
    std::string socket_;
    std::string error_;
    pid_t daemon_ = -1;
    std::vector<pid_t> helpers_;
    std::optional<std::string> savedServer_;
    std::optional<std::string> savedCookie_;
    bool exported_ = false;
};

}  // namespace test
