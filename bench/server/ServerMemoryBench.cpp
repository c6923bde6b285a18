// Prints the engine server's resident memory after the first 100 and after 1,000 requests of a
// mixed load: good form and raw transcriptions, warm-up silence, probes, and bad requests
// (not a WAV, truncated forms, unknown languages, large junk bodies, unknown paths). Flat
// figures mean a long-running engine does not creep upwards with use.
//
// With --load it prints, per model shape, the peak resident memory while the model loads, the
// memory when ready and after one 5 s request, and the time until ready; servers to compare
// (--before PATH, the --weights modes) start in turn, round after round, on a warm page cache.
#include "BenchSupport.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
    std::string preset = "test";
    int threads = 4;
    int requests = 1000;
    int port = 18792;
    bool load = false;
    std::string presets = "base,large-v3-turbo";
    std::string before;   // a server built from older code, compared round by round
    std::string weights;  // comma-separated --weights values to run the server with
    int rounds = 5;
    bool request = true;  // --load: one request after the load (--no-request: the load alone)
    std::string cache;    // --load: models kept here (ggml-PRESET-f16.bin, as speech-bench names them)
};

using bench::put16;
using bench::spawn;

// 16 kHz mono 16-bit WAV of a tone (or silence at amplitude 0).
std::string toneWav(double seconds, double amplitude) {
    const int rate = 16000;
    const auto n = static_cast<std::size_t>(seconds * rate);
    std::string data;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * 220.0 * static_cast<double>(i) / rate);
        put16(data, static_cast<unsigned>(static_cast<int>(std::lround(v * 32767)) & 0xFFFF));
    }
    return bench::wavOf(data);
}

const std::string kBoundary = "Wendaro-3A9C7E21-5D4B-4C8F-9E60-1B2A3C4D5E6F";
const std::string kType = "multipart/form-data; boundary=" + kBoundary;

std::string form(const std::string& file, const std::string& language) { return bench::form(kBoundary, file, language); }



// A field of /proc/PID/status in MiB: VmRSS (resident now) or VmHWM (the peak so far).
double statusMb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (in >> key) {
        if (key == field + ":") {
            long kb = 0;
            in >> kb;
            return static_cast<double>(kb) / 1024.0;
        }
        std::string rest;
        std::getline(in, rest);
    }
    return -1;
}

double rssMb(pid_t pid) { return statusMb(pid, "VmRSS"); }

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    std::size_t b = 0;
    while (b <= s.size()) {
        const std::size_t e = std::min(s.find(',', b), s.size());
        if (e > b) out.push_back(s.substr(b, e - b));
        b = e + 1;
    }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// One server start: the figures of its load and of its first request.
struct LoadRun {
    double peakMb = 0, readyMb = 0, afterRequestMb = 0, loadMs = 0;
    bool ok = false;
};

LoadRun loadOnce(const Options& o, const std::vector<std::string>& server, const std::string& model,
                 const std::string& log) {
    LoadRun run;
    std::vector<std::string> args = server;
    for (const std::string& a : {std::string("-m"), model, std::string("--host"), std::string("127.0.0.1"),
                                 std::string("--port"), std::to_string(o.port), std::string("--threads"),
                                 std::to_string(o.threads)})
        args.push_back(a);
    const auto launched = Clock::now();
    const pid_t pid = spawn(args, log);
    if (pid < 0) return run;
    httplib::Client client("127.0.0.1", o.port);
    client.set_read_timeout(std::chrono::seconds(300));
    bool ready = false;
    while (!ready && Clock::now() - launched < std::chrono::seconds(120)) {
        if (auto r = client.Get("/"); r && r->status == 200) ready = true;
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ready) {
        // The server's own figure: from the start of loading to ready, without process start-up
        // (logged just after it answers ready).
        for (int tries = 0; tries < 200 && run.loadMs == 0; ++tries) {
            std::ifstream in(log);
            for (std::string line; std::getline(in, line);)
                if (auto at = line.find("model loaded in "); at != std::string::npos)
                    run.loadMs = std::atof(line.c_str() + at + 16);
            if (run.loadMs == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.peakMb = statusMb(pid, "VmHWM");
        run.readyMb = rssMb(pid);
        run.ok = true;
        if (o.request) {
            auto r = client.Post("/inference", form(toneWav(5.0, 0.3), "en"), kType);
            run.afterRequestMb = rssMb(pid);
            run.ok = r && r->status == 200;
        }
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return run;
}

int loadBench(const Options& o, const fs::path& dir) {
    struct Variant {
        std::string name;
        std::vector<std::string> server;
        std::vector<LoadRun> runs;
    };
    std::printf("server load memory: %d threads, %d rounds, servers started in turn each round\n"
                "peak: VmHWM when ready (MiB); ready, request: VmRSS when ready and after one 5 s request;\n"
                "load: the server's own load time (ms)\n",
                o.threads, o.rounds);
    int failures = 0;
    for (const std::string& preset : split(o.presets)) {
        const std::string model = o.cache.empty() ? (dir / ("ggml-" + preset + ".bin")).string()
                                                  : o.cache + "/ggml-" + preset + "-f16.bin";
        if (!fs::exists(model) &&
            std::system((o.makeModel + " --preset " + preset + " -o " + model + " > /dev/null").c_str()) != 0) {
            std::fprintf(stderr, "make-test-model failed for preset %s\n", preset.c_str());
            return 1;
        }
        std::vector<Variant> variants;
        if (!o.before.empty()) variants.push_back({"before", {o.before}, {}});
        if (o.weights.empty()) variants.push_back({"now", {o.server}, {}});
        for (const std::string& w : split(o.weights)) variants.push_back({"now " + w, {o.server, "--weights", w}, {}});
        loadOnce(o, variants.back().server, model, (dir / "warm.log").string());  // warms the page cache
        std::printf("%s\n  %-10s %5s %9s %9s %9s %9s %7s\n", preset.c_str(), "server", "round", "peak", "ready",
                    "request", "peak/req", "load");
        for (int r = 1; r <= o.rounds; ++r)
            for (Variant& v : variants) {
                const std::string log = (dir / "server.log").string();
                LoadRun run = loadOnce(o, v.server, model, log);
                if (!run.ok) {
                    ++failures;
                    std::fprintf(stderr, "%s: no answer; see %s\n", v.name.c_str(), log.c_str());
                    continue;
                }
                v.runs.push_back(run);
                if (o.request)
                    std::printf("  %-10s %5d %9.1f %9.1f %9.1f %8.1f%% %7.0f\n", v.name.c_str(), r, run.peakMb,
                                run.readyMb, run.afterRequestMb, 100.0 * (run.peakMb / run.afterRequestMb - 1.0),
                                run.loadMs);
                else
                    std::printf("  %-10s %5d %9.1f %9.1f %9s %9s %7.0f\n", v.name.c_str(), r, run.peakMb, run.readyMb,
                                "-", "-", run.loadMs);
            }
        for (Variant& v : variants) {
            auto pick = [&v](double LoadRun::*f) {
                std::vector<double> x;
                for (const LoadRun& r : v.runs) x.push_back(r.*f);
                return median(x);
            };
            const double peak = pick(&LoadRun::peakMb), after = pick(&LoadRun::afterRequestMb);
            if (o.request)
                std::printf("  %-10s median %9.1f %9.1f %9.1f %8.1f%% %7.0f\n", v.name.c_str(), peak,
                            pick(&LoadRun::readyMb), after, 100.0 * (peak / after - 1.0), pick(&LoadRun::loadMs));
            else
                std::printf("  %-10s median %9.1f %9.1f %9s %9s %7.0f\n", v.name.c_str(), peak, pick(&LoadRun::readyMb),
                            "-", "-", pick(&LoadRun::loadMs));
        }
        if (o.cache.empty()) fs::remove(model);
    }
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--preset") o.preset = next();
        else if (a == "--threads") o.threads = std::stoi(next());
        else if (a == "--requests") o.requests = std::max(100, std::stoi(next()));
        else if (a == "--port") o.port = std::stoi(next());
        else if (a == "--server") o.server = next();
        else if (a == "--load") o.load = true;
        else if (a == "--presets") o.presets = next();
        else if (a == "--before") o.before = next();
        else if (a == "--weights") o.weights = next();
        else if (a == "--rounds") o.rounds = std::max(1, std::stoi(next()));
        else if (a == "--cache") o.cache = next();
        else if (a == "--no-request") o.request = false;
        else {
            std::printf("usage: %s [--preset test] [--threads 4] [--requests 1000] [--port N] [--server PATH]\n"
                        "       %s --load [--presets base,large-v3-turbo] [--rounds 5] [--before PATH]\n"
                        "          [--weights f16,q8] [--threads 4] [--server PATH] [--cache DIR]\n"
                        "          [--no-request]\n",
                        argv[0], argv[0]);
            return a == "--help" ? 0 : 2;
        }
    }

    const fs::path dir = fs::temp_directory_path() / ("tovrin-server-memory-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    if (o.load) {
        const int rc = loadBench(o, dir);
        fs::remove_all(dir);
        return rc;
    }
    const std::string model = (dir / ("ggml-" + o.preset + ".bin")).string();
    if (std::system((o.makeModel + " --preset " + o.preset + " -o " + model + " > /dev/null").c_str()) != 0) {
        std::fprintf(stderr, "make-test-model failed for preset %s\n", o.preset.c_str());
        return 1;
    }
    const std::string log = (dir / "server.log").string();
    const pid_t pid = spawn({o.server, "-m", model, "--host", "127.0.0.1", "--port", std::to_string(o.port),
                             "--threads", std::to_string(o.threads)},
                            log);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", o.server.c_str());
        return 1;
    }
    httplib::Client client("127.0.0.1", o.port);
    client.set_read_timeout(std::chrono::seconds(120));
    client.set_write_timeout(std::chrono::seconds(120));
    const auto launched = Clock::now();
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
    const double atReady = rssMb(pid);

    const std::string speech2s = toneWav(2.0, 0.3), speech1s = toneWav(1.0, 0.3);
    const std::string junk(6u * 1024 * 1024, 'J');
    const std::string largeForm = form(junk, "en");
    struct Request {
        const char* what;
        std::function<httplib::Result()> send;
    };
    const std::vector<Request> cycle = {
        {"form, 2 s", [&] { return client.Post("/inference", form(speech2s, "en"), kType); }},
        {"raw, 1 s", [&] { return client.Post("/transcribe?lang=de", speech1s, "audio/wav"); }},
        {"warm-up silence", [&] { return client.Post("/inference", form(toneWav(0.5, 0), ""), kType); }},
        {"not a wav", [&] { return client.Post("/inference", form("hello there", "en"), kType); }},
        {"6 MB junk raw", [&] { return client.Post("/transcribe", junk, "audio/wav"); }},
        {"6 MB junk form", [&] { return client.Post("/inference", largeForm, kType); }},
        {"truncated form", [&] { return client.Post("/inference", form(speech1s, "en").substr(0, 9000), kType); }},
        {"unknown language", [&] { return client.Post("/inference", form(speech1s, "xx-klingon"), kType); }},
        {"probe", [&] { return client.Get("/health"); }},
        {"unknown path", [&] { return client.Get("/nowhere"); }},
    };

    double after100 = 0;
    int failures = 0;
    const auto start = Clock::now();
    for (int i = 1; i <= o.requests; ++i) {
        const Request& r = cycle[static_cast<std::size_t>(i - 1) % cycle.size()];
        if (!r.send()) {
            ++failures;
            std::fprintf(stderr, "no answer to request %d (%s)\n", i, r.what);
        }
        if (i == 100) after100 = rssMb(pid);
    }
    const double afterAll = rssMb(pid);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    fs::remove_all(dir);

    std::printf("server memory: %s-shape generated model, %d threads, %d mixed requests in %.1f s\n",
                o.preset.c_str(), o.threads, o.requests, seconds);
    std::printf("  RSS when ready          %8.1f MB\n", atReady);
    std::printf("  RSS after 100 requests  %8.1f MB\n", after100);
    std::printf("  RSS after %d requests %6.1f MB (%+.1f MB since request 100)\n", o.requests, afterAll,
                afterAll - after100);
    if (failures) std::printf("  requests without an answer: %d\n", failures);
    return failures ? 1 : 0;
}
