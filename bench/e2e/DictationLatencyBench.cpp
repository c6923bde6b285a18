// Time from the release of the push-to-talk key to the text appearing in another program's
// window, for a 5 s phrase, with the real program on a private headless desktop (Xvfb, a tray
// host, PulseAudio with a virtual microphone, D-Bus with gnome-keyring) and a generated model of
// the base shape. Two servers are measured:
//   engine  the program's own local server (whisper-server), started by the program with the
//           thread count it chooses for this machine;
//   fixed   the fixed-port server (tovrin-speech-server) on 127.0.0.1:8756 with --threads 8,
//           which the program calls when it runs no server of its own.
// The figures are printed, never checked. How each part is measured (all from outside):
//   stop     key release (after XSync of the XTest event) -> the widget's title turns to
//            "Transcribing…" (read every ~5 ms): the key event, the recorder's stop and the
//            WAV image.
//   request  "Transcribing…" -> the server starting its work (its log's completion time minus
//            its own compute time): the HTTP request with the audio, as far as the server.
//   engine   the server's own compute time from its log line (the queue wait shown apart).
//   paste    the server's completion -> the text in the target window's field (its output file,
//            read every 1 ms): the reply, the dictionary, the history row, the clipboard, the
//            0.05 s before the paste chord and the target's own handling of it.
// Log times have millisecond resolution; the window-title reads add up to ~5 ms to "stop".
//
// usage: dictation-latency-bench [RUNS]     (default 5 timed runs per server, after one untimed)
#include "e2e/Road.h"
#include "support/HeadlessDesktop.h"
#include "support/PulseServer.h"
#include "support/XTestKeyboard.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

constexpr const char* kPhrase =
    "please send the report to my manager tomorrow and tell him the meeting moved to friday";

struct ServerLine {
    double doneAt = 0;  // seconds since 1970
    double engineMs = 0;
    double waitedMs = 0;
    double audioSeconds = 0;
};

// The last transcription line of a server log, e.g.
// "2026-12-09T07:10:10.523Z info /transcribe: 6.04 s of audio (...) -> as, 322 ms (waited 0 ms)".
std::optional<ServerLine> lastServerLine(const std::string& log, std::size_t count) {
    static const std::regex line(
        R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})Z info /(?:inference|transcribe): ([0-9.]+) s of audio[^\n]*, ([0-9.]+) ms \(waited ([0-9.]+) ms\))");
    std::vector<ServerLine> found;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        const auto& m = *it;
        std::tm tm{};
        tm.tm_year = std::stoi(m[1]) - 1900;
        tm.tm_mon = std::stoi(m[2]) - 1;
        tm.tm_mday = std::stoi(m[3]);
        tm.tm_hour = std::stoi(m[4]);
        tm.tm_min = std::stoi(m[5]);
        tm.tm_sec = std::stoi(m[6]);
        ServerLine s;
        s.doneAt = static_cast<double>(timegm(&tm)) + std::stoi(m[7]) / 1000.0;
        s.audioSeconds = std::stod(m[8]);
        s.engineMs = std::stod(m[9]);
        s.waitedMs = std::stod(m[10]);
        found.push_back(s);
    }
    if (found.size() < count) return std::nullopt;
    return found[count - 1];
}

std::size_t serverLines(const std::string& log) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = log.find(" s of audio", at)) != std::string::npos; ++at) ++n;
    return n;
}

struct Split {
    double total, stop, request, engine, waited, paste, audio;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class Bench {
public:
    Bench(test::HeadlessDesktop& desk, test::PulseServer& pulse, std::string model, std::string clip)
        : road_(desk, pulse, {TOVRIN_PROGRAM, TOVRIN_E2E_TARGET, "", ""}),
          keys_(desk.display()),
          pulse_(pulse),
          model_(std::move(model)),
          clip_(std::move(clip)) {}

    // One dictation; nullopt (with a message) when it did not go through.
    std::optional<Split> dictate(const std::string& log) {
        const std::size_t before = road_.targetText().size();
        const std::size_t linesBefore = serverLines(readFile(log));
        road_.titles().clear();
        keys_.press("Control_R");
        if (!road_.titles().waitFor("Recording", 5)) return fail("the recording did not start");
        if (!pulse_.play(clip_)) return fail("the clip did not play");
        keys_.release("Control_R");
        const double released = wallNow();
        double landed = 0;
        if (!waitUntil(
                [&] {
                    if (road_.targetText().size() <= before) return false;
                    landed = wallNow();
                    return true;
                },
                60, 0.001))
            return fail("no text arrived");
        std::optional<ServerLine> server;
        waitUntil([&] { return (server = lastServerLine(readFile(log), linesBefore + 1)).has_value(); }, 5);
        const auto processing = road_.titles().firstSeenAt("Transcribing…");
        if (!server || !processing) return fail("the server's log or the widget's title is missing");
        // Let the message go and the clipboard come back before the next run.
        waitUntil([] { return false; }, 2.0);
        const double engineStart = server->doneAt - (server->engineMs + server->waitedMs) / 1000.0;
        return Split{landed - released,
                     *processing - released,
                     engineStart - *processing,
                     server->engineMs / 1000.0,
                     server->waitedMs / 1000.0,
                     landed - server->doneAt,
                     server->audioSeconds};
    }

    int run(const std::string& mode, int runs) {
        std::string log;
        std::string threads = "8";
        pid_t fixedServer = -1;
        if (mode == "engine") {
            road_.freshUser(R"({"provider":"local","pttKeyCode":62,"activeModel":"base"})");
            fs::create_directories(road_.modelsDir());
            fs::copy_file(model_, road_.modelsDir() + "/ggml-base.bin");
            log = road_.stateDir() + "/engine.log";
        } else {
            road_.freshUser(R"({"provider":"local","pttKeyCode":62})");
            log = pulse_.folder() + "/fixed-server.log";
            fixedServer = launch({TOVRIN_SPEECH_SERVER, "-m", model_, "--host", "127.0.0.1", "--port", "8756",
                                  "--threads", "8"},
                                 road_.environment(), log);
            if (!waitUntil([&] { return readFile(log).find("ready") != std::string::npos; }, 30)) {
                std::fprintf(stderr, "%s: the fixed-port server did not start\n", mode.c_str());
                stopGroup(fixedServer);
                return 1;
            }
        }
        if (!road_.startTarget() || !road_.startProgram() || !road_.focusTarget()) {
            std::fprintf(stderr, "%s: the program or the target window did not start\n", mode.c_str());
            stopGroup(fixedServer);
            return 1;
        }
        if (mode == "engine") {
            // The program starts the server, waits for it and warms it up once.
            if (!waitUntil([&] { return serverLines(readFile(log)) >= 1; }, 60)) {
                std::fprintf(stderr, "engine: never warmed up\n%s\n", readFile(log).c_str());
                road_.stopProgram();
                return 1;
            }
            const auto servers = childrenNamed(road_.programPid(), "whisper-server");
            if (!servers.empty()) {
                const auto args = commandLine(servers.front());
                const auto it = std::find(args.begin(), args.end(), "--threads");
                if (it != args.end() && it + 1 != args.end()) threads = *(it + 1);
            }
        }

        std::printf("\n%s server (%s threads), base-shape model, %.1f s phrase\n", mode.c_str(), threads.c_str(),
                    phraseSeconds_);
        std::printf("  run     total    stop  request   engine  (wait)    paste   audio sent   [seconds]\n");
        std::vector<Split> timed;
        int status = 0;
        for (int i = 0; i <= runs; ++i) {
            const auto s = dictate(log);
            if (!s) {
                status = 1;
                break;
            }
            std::printf("  %-5s %7.3f %7.3f %8.3f %8.3f %7.3f %8.3f %9.2f\n",
                        i == 0 ? "first" : std::to_string(i).c_str(), s->total, s->stop, s->request, s->engine,
                        s->waited, s->paste, s->audio);
            if (i > 0) timed.push_back(*s);
        }
        if (!timed.empty()) {
            auto col = [&](double Split::*f) {
                std::vector<double> v;
                for (const auto& s : timed) v.push_back(s.*f);
                return median(v);
            };
            std::printf("  median %6.3f %7.3f %8.3f %8.3f %7.3f %8.3f\n", col(&Split::total), col(&Split::stop),
                        col(&Split::request), col(&Split::engine), col(&Split::waited), col(&Split::paste));
        }
        std::fflush(stdout);
        road_.stopProgram();
        road_.stopTarget();
        stopGroup(fixedServer);
        return status;
    }

    double phraseSeconds_ = 0;

private:
    std::optional<Split> fail(const std::string& why) {
        std::fprintf(stderr, "dictation failed: %s\nprogram log:\n%s\n", why.c_str(), road_.programLog().c_str());
        keys_.release("Control_R");
        return std::nullopt;
    }

    Road road_;
    test::XTestKeyboard keys_;
    test::PulseServer& pulse_;
    std::string model_;
    std::string clip_;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    test::HeadlessDesktop desk({true, true, true});
    if (!desk.ok()) {
        std::fprintf(stderr, "headless desktop: %s\n", desk.error().c_str());
        return 1;
    }
    desk.exportEnvironment();
    test::PulseServer pulse;
    if (!pulse.start()) {
        std::fprintf(stderr, "PulseAudio: %s\n", pulse.error().c_str());
        return 1;
    }

    // The phrase, made exactly 5 s long (silence after the speech).
    const std::string spoken = pulse.folder() + "/spoken.wav", clip = pulse.folder() + "/phrase.wav";
    std::string out;
    if (!test::PulseServer::speak(kPhrase, spoken) ||
        desk.run({"sox", spoken, clip, "pad", "0", "5", "trim", "0", "5"}, &out) != 0) {
        std::fprintf(stderr, "cannot make the phrase: %s\n", out.c_str());
        return 1;
    }
    const std::string model = pulse.folder() + "/ggml-base.bin";
    if (desk.run({TOVRIN_MAKE_TEST_MODEL, "--preset", "base", "-o", model}, &out, 120) != 0) {
        std::fprintf(stderr, "make-test-model: %s\n", out.c_str());
        return 1;
    }

    Bench bench(desk, pulse, model, clip);
    if (auto samples = test::PulseServer::readAs16kMono(clip)) bench.phraseSeconds_ = samples->size() / 16000.0;
    std::printf("key release to text in the window; %d timed runs per server after an untimed first\n", runs);
    int status = bench.run("engine", runs);
    status |= bench.run("fixed", runs);
    return status;
}
