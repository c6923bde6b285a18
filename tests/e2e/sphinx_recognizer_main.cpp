// A speech server for the end-to-end tests, not part of the program: it answers on a fixed
// loopback port as the program's fixed-port server does (POST /transcribe with a WAV body,
// GET /health) and decodes with pocketsphinx restricted to a grammar of the test sentences, so
// the text it returns is exactly the sentence that was spoken when the audio arrived intact.
//
// usage: tovrin_sphinx_recognizer GRAMMAR.jsgf [PORT] [LOG] [LAST_WAV]
// Every request is logged as one line: "transcribe <bytes> <seconds of audio> <decode ms> <text>".
#include <pocketsphinx.h>

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kModelDir = "/usr/share/pocketsphinx/model/en-us";

std::string jsonEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
    return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
           static_cast<std::uint8_t>(s[at + 2]) << 16 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

// The samples of a 16 kHz mono 16-bit WAV image: the "data" chunk, or everything after the
// 44-byte header when the chunks cannot be walked. Empty when it is not a RIFF/WAVE image.
bool pcmOf(const std::string& wav, std::vector<int16_t>& samples) {
    if (wav.size() < 44 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0) return false;
    std::size_t begin = 44, length = wav.size() - 44;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::uint32_t size = le32(wav, at + 4);
        if (wav.compare(at, 4, "data") == 0) {
            begin = at + 8;
            length = std::min<std::size_t>(size, wav.size() - begin);
            break;
        }
        at += 8 + size + (size & 1);
    }
    samples.resize(length / 2);
    std::memcpy(samples.data(), wav.data() + begin, samples.size() * 2);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s GRAMMAR.jsgf [PORT] [LOG]\n", argv[0]);
        return 2;
    }
    const int port = argc > 2 ? std::atoi(argv[2]) : 8756;
    FILE* log = argc > 3 ? std::fopen(argv[3], "a") : stderr;
    // The last request's audio is kept here, for a look when a test fails.
    const std::string lastWav = argc > 4 ? argv[4] : "";
    if (!log) log = stderr;

    const std::string hmm = std::string(kModelDir) + "/en-us";
    const std::string dict = std::string(kModelDir) + "/cmudict-en-us.dict";
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(), "-jsgf",
                                   argv[1], "-logfn", "/dev/null",
                                   // The virtual microphone's silence is exact zeros, which the
                                   // features cannot take (log of zero energy): dither them.
                                   "-dither", "yes", nullptr);
    if (!config) {
        std::fprintf(stderr, "pocketsphinx: bad configuration\n");
        return 1;
    }
    ps_decoder_t* decoder = ps_init(config);
    if (!decoder) {
        std::fprintf(stderr, "pocketsphinx: cannot load the model or the grammar\n");
        return 1;
    }
    std::mutex decoderMutex;

    httplib::Server server;
    server.Get("/health", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"status\":\"ok\"}", "application/json");
    });
    server.Post("/transcribe", [&](const httplib::Request& req, httplib::Response& res) {
        if (!lastWav.empty())
            if (FILE* f = std::fopen(lastWav.c_str(), "wb")) {
                std::fwrite(req.body.data(), 1, req.body.size(), f);
                std::fclose(f);
            }
        std::vector<int16_t> samples;
        if (!pcmOf(req.body, samples)) {
            res.status = 400;
            res.set_content("{\"error\":\"not a WAV image\"}", "application/json");
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        std::string text;
        {
            std::lock_guard lock(decoderMutex);
            ps_start_utt(decoder);
            ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE);
            ps_end_utt(decoder);
            int32 score = 0;
            if (const char* hyp = ps_get_hyp(decoder, &score)) text = hyp;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(log, "transcribe %zu %.3f %.1f %s\n", req.body.size(), samples.size() / 16000.0, ms,
                     text.c_str());
        std::fflush(log);
        res.set_content("{\"text\":\"" + jsonEscaped(text) + "\"}", "application/json");
    });
    server.new_task_queue = [] { return new httplib::ThreadPool(2); };
    if (!server.listen("127.0.0.1", port)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
        ps_free(decoder);
        return 1;
    }
    ps_free(decoder);
    return 0;
}
