// Prints the engine server's resident memory after the first 100 and after 1,000 requests of a
// mixed load: good form and raw transcriptions, warm-up silence, probes, and bad requests
// (not a WAV, truncated forms, unknown languages, large junk bodies, unknown paths). Flat
// figures mean a long-running engine does not creep upwards with use.
#include "BenchSupport.h"

#include <httplib.h>

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



// Resident set size of a process in MB, from /proc.
double rssMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            in >> kb;
            return static_cast<double>(kb) / 1024.0;
        }
        std::string rest;
        std::getline(in, rest);
    }
    return -1;
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
        else {
            std::printf("usage: %s [--preset test] [--threads 4] [--requests 1000] [--port N] [--server PATH]\n",
                        argv[0]);
            return a == "--help" ? 0 : 2;
        }
    }

    const fs::path dir = fs::temp_directory_path() / ("tovrin-server-memory-" + std::to_string(::getpid()));
    fs::create_directories(dir);
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
