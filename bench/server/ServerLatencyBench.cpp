// Prints the engine server's answer time for one dictated phrase, measured as the desktop
// program sees it: the exact multipart request over loopback, from send to parsed reply.
// The model is generated with the requested shape (random weights); the server runs with the
// given thread count; one warm-up request precedes the timed runs, as after every launch.
#include "BenchSupport.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string server = TOVRIN_WHISPER_SERVER;
    std::string makeModel = TOVRIN_MAKE_TEST_MODEL;
    std::string preset = "base";
    int threads = 8;
    int runs = 9;
    double seconds = 5.0;
    int port = 18791;
};

using bench::put16;
using bench::spawn;

// A speech-like phrase: voiced syllables (a wandering pitch with harmonics and formant-ish
// weighting) separated by short pauses, plus a little breath noise; 16 kHz mono 16-bit WAV.
std::string phraseWav(double seconds) {
    const int rate = 16000;
    const auto n = static_cast<std::size_t>(seconds * rate);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::string data;
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double syllable = std::fmod(t, 0.25) / 0.25;
        const double envelope = syllable < 0.8 ? std::sin(M_PI * syllable / 0.8) : 0.0;
        const double pitch = 120 + 30 * std::sin(2 * M_PI * 0.7 * t);
        phase += 2 * M_PI * pitch / rate;
        double v = 0;
        for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h * (h == 3 || h == 7 ? 2.0 : 1.0);
        v = 0.15 * envelope * v + noise(rng);
        put16(data, static_cast<unsigned>(static_cast<int>(std::lround(std::clamp(v, -1.0, 1.0) * 32767)) & 0xFFFF));
    }
    return bench::wavOf(data);
}



double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--preset") o.preset = next();
        else if (a == "--threads") o.threads = std::stoi(next());
        else if (a == "--runs") o.runs = std::max(1, std::stoi(next()));
        else if (a == "--seconds") o.seconds = std::stod(next());
        else if (a == "--port") o.port = std::stoi(next());
        else if (a == "--server") o.server = next();
        else {
            std::printf("usage: %s [--preset base] [--threads 8] [--runs 9] [--seconds 5] [--port N] [--server PATH]\n",
                        argv[0]);
            return a == "--help" ? 0 : 2;
        }
    }

    const fs::path dir = fs::temp_directory_path() / ("tovrin-server-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string model = (dir / ("ggml-" + o.preset + ".bin")).string();
    const std::string make = o.makeModel + " --preset " + o.preset + " -o " + model + " > /dev/null";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "make-test-model failed for preset %s\n", o.preset.c_str());
        return 1;
    }
    // Read it once so the first request does not pay for the disk.
    std::system(("cat " + model + " > /dev/null").c_str());

    const std::string log = (dir / "server.log").string();
    const auto launched = Clock::now();
    const pid_t pid = spawn({o.server, "-m", model, "--host", "127.0.0.1", "--port", std::to_string(o.port),
                             "--threads", std::to_string(o.threads)},
                            log);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", o.server.c_str());
        return 1;
    }
    httplib::Client client("127.0.0.1", o.port);
    client.set_read_timeout(std::chrono::seconds(120));
    client.set_keep_alive(true);
    bool ready = false;
    while (!ready && Clock::now() - launched < std::chrono::seconds(60)) {
        if (auto r = client.Get("/"); r && r->status == 200) ready = true;
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ready) {
        std::fprintf(stderr, "server not ready after 60 s; see %s\n", log.c_str());
        ::kill(pid, SIGKILL);
        return 1;
    }
    const double readyMs = ms(Clock::now() - launched);

    const std::string boundary = "Wendaro-5B8E2C14-7A3D-4F90-B6E1-2D9C8A7F6E53";
    const std::string body = bench::form(boundary, phraseWav(o.seconds), "en");
    const std::string type = "multipart/form-data; boundary=" + boundary;

    auto once = [&](std::string* text) {
        const auto t0 = Clock::now();
        auto r = client.Post("/inference", body, type);
        const double t = ms(Clock::now() - t0);
        if (!r || r->status != 200) {
            std::fprintf(stderr, "request failed: %s\n", r ? r->body.c_str() : "no answer");
            return -1.0;
        }
        if (text) *text = r->body;
        return t;
    };

    std::string reply;
    const double warm = once(&reply);
    std::vector<double> times;
    for (int i = 0; i < o.runs && warm >= 0; ++i) {
        const double t = once(nullptr);
        if (t < 0) break;
        times.push_back(t);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);

    // The server logs the engine's own time per request ("..., 123 ms (waited 0 ms)").
    std::vector<double> engine;
    if (std::FILE* f = std::fopen(log.c_str(), "r")) {
        char line[1024];
        while (std::fgets(line, sizeof line, f)) {
            const std::string l = line;
            const auto end = l.find(" ms (waited");
            if (end == std::string::npos) continue;
            const auto start = l.rfind(", ", end);
            if (start != std::string::npos) engine.push_back(std::atof(l.c_str() + start + 2));
        }
        std::fclose(f);
    }
    if (!engine.empty()) engine.erase(engine.begin());  // the warm-up
    fs::remove_all(dir);
    if (times.empty()) return 1;

    std::printf("server latency: %s-shape generated model, %d threads, %.1f s phrase, %d runs\n", o.preset.c_str(),
                o.threads, o.seconds, static_cast<int>(times.size()));
    std::printf("  launch to ready   %8.1f ms\n", readyMs);
    std::printf("  first request     %8.1f ms (warm-up)\n", warm);
    std::printf("  median            %8.1f ms\n", median(times));
    std::printf("  min / max         %8.1f / %.1f ms\n", *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
 if (engine.size() == times.size())
        std::printf("  engine (median)   %8.1f ms, so the server adds %.1f ms\n", median(engine),
                    median(times) - median(engine));
    std::printf("  target            %8.1f ms (base, 5 s phrase)   whisper.cpp server: 384 ms\n", 250.0);
    std::printf("  reply             %.120s\n", reply.c_str());
    return 0;
}
