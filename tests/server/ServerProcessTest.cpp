// Starts the server executables and checks their contract over HTTP: readiness, both request
// forms, queueing, bad input and termination. Runs against the stand-in engine always, and
// against the real engine with a generated model when both are built.
#include "RunningServer.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using nlohmann::json;
using servertest::RunningServer;
using servertest::WavBuilder;

namespace fs = std::filesystem;

namespace {

const std::string kBoundary = "Wendaro-7D1F2A90-3C4B-4E5D-8F60-A1B2C3D4E5F6";

std::string textField(const std::string& name, const std::string& value) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

// The engine request exactly as the desktop program builds it.
std::string inferenceBody(const std::string& wav, const std::string& lang) {
    std::string body = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
                       "Content-Type: audio/wav\r\n\r\n" + wav + "\r\n";
    if (lang != "auto") body += textField("language", lang);
    body += textField("response_format", "json");
    return body + "--" + kBoundary + "--\r\n";
}

const std::string kMultipartType = "multipart/form-data; boundary=" + kBoundary;

std::string speechWav(double seconds = 1.0) { return WavBuilder::pcm16k(WavBuilder::sine(220, seconds, 16000, 0.3)); }

// Sends raw bytes, optionally half-closing, and returns whatever comes back before the server
// closes or 5 s pass.
std::string rawExchange(int port, const std::string& bytes, bool halfClose) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(s);
        return "";
    }
    timeval tv{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (halfClose) ::shutdown(s, SHUT_WR);
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<std::size_t>(n));
    ::close(s);
    return reply;
}

// A connection that has sent `bytes` and stays open; -1 when it cannot connect.
int openAndSend(int port, const std::string& bytes) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(s);
        return -1;
    }
    if (!bytes.empty()) ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return s;
}

// What the server sends on `s` until it closes the connection or `within` has passed.
std::string replyWithin(int s, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::string reply;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{s, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    return reply;
}

struct Engine {
    std::string executable;
    std::string model;
};

class ServerProcessTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tovrin-server-test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
#if defined(TOVRIN_WHISPER_SERVER) && defined(TOVRIN_MAKE_TEST_MODEL)
        if (!fs::exists(TOVRIN_WHISPER_SERVER) || !fs::exists(TOVRIN_MAKE_TEST_MODEL)) return;
        const std::string model = (dir_ / "test-model.bin").string();
        const std::string cmd = std::string(TOVRIN_MAKE_TEST_MODEL) + " --preset test -o " + model + " > /dev/null";
        if (std::system(cmd.c_str()) == 0) realModel_ = model;
#endif
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    bool isFake() const { return GetParam() == "fake"; }

    // The engine to run, or skips the test when it is not built. `fakeSettings` configures the
    // stand-in engine (see FakeRecognizer.h).
    Engine engine(const std::string& fakeSettings = "") {
        if (isFake()) {
            const std::string model = (dir_ / ("fake-" + std::to_string(counter_++) + ".txt")).string();
            std::ofstream(model) << fakeSettings << "\n";
            return {TOVRIN_FAKE_SERVER, model};
        }
#ifdef TOVRIN_WHISPER_SERVER
        if (!realModel_.empty()) return {TOVRIN_WHISPER_SERVER, realModel_};
#endif
        return {};
    }

    // Starts the engine on a free port and waits until it is ready.
    std::unique_ptr<RunningServer> start(const Engine& e, int& port, std::vector<std::string> extra = {}) {
        port = RunningServer::freePort();
        std::vector<std::string> args{"-m", e.model, "--host", "127.0.0.1", "--port", std::to_string(port),
                                      "--threads", "4"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto server = std::make_unique<RunningServer>(
            e.executable, args, (dir_ / ("server-" + std::to_string(counter_++) + ".log")).string());
        EXPECT_TRUE(server->waitReady(port, 30s)) << "server did not become ready; log " << server->logPath();
        return server;
    }

    static httplib::Client client(int port) {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(60s);
        c.set_write_timeout(60s);
        return c;
    }

    static fs::path dir_;
    static std::string realModel_;
    static inline int counter_ = 0;
};

fs::path ServerProcessTest::dir_;
std::string ServerProcessTest::realModel_;

#define REQUIRE_ENGINE(e)                                                    \
    if ((e).executable.empty()) GTEST_SKIP() << "the speech engine or make-test-model is not built"

json parsed(const httplib::Result& res) {
    if (!res) return json();
    return json::parse(res->body, nullptr, false);
}

}  // namespace

TEST_P(ServerProcessTest, AnswersBothRequestFormsWithAndWithoutLanguage) {
    const Engine e = engine();
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);
    auto c = client(port);
    const std::string wav = speechWav();

    for (const std::string lang : {"auto", "en"}) {
        auto res = c.Post("/inference", inferenceBody(wav, lang), kMultipartType);
        ASSERT_TRUE(res) << lang;
        ASSERT_EQ(res->status, 200) << res->body;
        const json reply = parsed(res);
        ASSERT_TRUE(reply.contains("text") && reply["text"].is_string()) << res->body;
        ASSERT_TRUE(reply["language"].is_string()) << res->body;
        if (lang == "en") EXPECT_EQ(reply["language"], "en");
        if (isFake()) EXPECT_EQ(reply["text"], "samples=16000 language=" + lang + " overlap=0");
    }

    // The fixed-port form: raw WAV, language in the query.
    for (const std::string query : {"", "?lang=uk"}) {
        auto res = c.Post("/transcribe" + query, wav, "audio/wav");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        const json reply = parsed(res);
        ASSERT_TRUE(reply["text"].is_string()) << res->body;
        if (!query.empty()) EXPECT_EQ(reply["language"], "uk");
    }
    EXPECT_EQ(c.Get("/health")->status, 200);

    // The warm-up request: a file part only, half a second of silence.
    const std::string warmupBoundary = "warmup-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    const std::string warmup = "--" + warmupBoundary +
                               "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"w.wav\"\r\n"
                               "Content-Type: audio/wav\r\n\r\n" + WavBuilder::pcm16k(std::vector<float>(8000)) +
                               "\r\n--" + warmupBoundary + "--\r\n";
    auto res = c.Post("/inference", warmup, "multipart/form-data; boundary=" + warmupBoundary);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;

    // Other formats are converted, not refused: 44.1 kHz stereo float.
    WavBuilder cd;
    cd.sampleRate = 44100;
    cd.channels = 2;
    cd.formatTag = 3;
    cd.bits = 32;
    res = c.Post("/transcribe", cd.build(WavBuilder::sine(220, 2.0, 44100)), "audio/wav");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    if (isFake()) EXPECT_EQ(parsed(res)["text"], "samples=16000 language=auto overlap=0");
}

TEST_P(ServerProcessTest, EveryBadInputGetsAClientErrorAndTheServerKeepsServing) {
    const Engine e = engine();
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);
    auto c = client(port);
    const std::string wav = speechWav(0.5);
    WavBuilder adpcm;
    adpcm.formatTag = 2;
    const std::string notPcm = adpcm.build({0, 0, 0, 0});

    const struct {
        const char* what;
        std::string path, body, type;
    } cases[] = {
        {"not a wav (form)", "/inference", inferenceBody("hello there", "auto"), kMultipartType},
        {"not a wav (raw)", "/transcribe", "hello there", "audio/wav"},
        {"not pcm (form)", "/inference", inferenceBody(notPcm, "auto"), kMultipartType},
        {"not pcm (raw)", "/transcribe", notPcm, "audio/wav"},
        {"empty body (form)", "/inference", "", kMultipartType},
        {"empty body (raw)", "/transcribe", "", "audio/wav"},
        {"empty file part", "/inference", inferenceBody("", "auto"), kMultipartType},
        {"truncated wav", "/transcribe", wav.substr(0, 30), "audio/wav"},
        {"truncated multipart", "/inference", inferenceBody(wav, "en").substr(0, 2000), kMultipartType},
        {"malformed multipart", "/inference", "--" + kBoundary + "\r\nnonsense\r\n\r\n", kMultipartType},
        {"no boundary", "/inference", inferenceBody(wav, "auto"), "multipart/form-data"},
        {"not multipart", "/inference", wav, "audio/wav"},
        {"no file part", "/inference", textField("language", "en") + "--" + kBoundary + "--\r\n", kMultipartType},
        {"unknown language (form)", "/inference", inferenceBody(wav, "xx-klingon"), kMultipartType},
        {"unknown language (raw)", "/transcribe?lang=zz", wav, "audio/wav"},
        {"other response format", "/inference",
         "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" + wav + "\r\n" +
             textField("response_format", "srt") + "--" + kBoundary + "--\r\n",
         kMultipartType},
        {"huge upload", "/transcribe", std::string(101u * 1024 * 1024, 'A'), "audio/wav"},
    };
    for (const auto& bad : cases) {
        auto res = c.Post(bad.path, bad.body, bad.type);
        ASSERT_TRUE(res) << bad.what << ": no answer";
        EXPECT_GE(res->status, 400) << bad.what;
        EXPECT_LT(res->status, 500) << bad.what << ": " << res->body;
        const json reply = parsed(res);
        EXPECT_TRUE(reply.is_object() && reply["error"].is_string() && !reply["error"].get<std::string>().empty())
            << bad.what << ": " << res->body;
    }
    EXPECT_EQ(c.Post("/transcribe", std::string(101u * 1024 * 1024, 'A'), "audio/wav")->status, 413);

    // Broken at the HTTP level: a body shorter than announced, and an oversized chunked upload.
    rawExchange(port, "POST /transcribe HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\nRIFF", true);
    const std::string chunk(1024 * 1024, 'B');
    std::string chunked = "POST /transcribe HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string chunkedBody;
    for (int i = 0; i < 110; ++i) chunkedBody += "100000\r\n" + chunk + "\r\n";
    const std::string reply = rawExchange(port, chunked + chunkedBody + "0\r\n\r\n", false);
    EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply.substr(0, 200);
    // Garbage instead of HTTP.
    rawExchange(port, std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), true);

    // Still serving, correctly.
    auto res = c.Post("/inference", inferenceBody(wav, "en"), kMultipartType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(c.Get("/")->status, 200);
    auto unknown = c.Get("/nowhere");
    EXPECT_EQ(unknown->status, 404);
    EXPECT_TRUE(parsed(unknown)["error"].is_string());
}

TEST_P(ServerProcessTest, ConcurrentClientsAreServedOneAtATimeInArrivalOrder) {
    const Engine e = engine("transcribe_ms=120 count_turns=1");
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);
    const std::string body = inferenceBody(speechWav(), "en");
    const std::string request = "POST /inference HTTP/1.1\r\nHost: x\r\nContent-Type: " + kMultipartType +
                                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;

    // Each request is sent whole before the next connects: arrival order 0, 1, 2, ... whatever
    // the scheduler does with the test's own threads.
    constexpr int kClients = 6;
    std::vector<int> sockets;
    for (int i = 0; i < kClients; ++i) {
        sockets.push_back(openAndSend(port, request));
        ASSERT_GE(sockets.back(), 0);
        std::this_thread::sleep_for(20ms);
    }
    for (int i = 0; i < kClients; ++i) {
        const std::string reply = replyWithin(sockets[i], 10s);
        ::close(sockets[i]);
        ASSERT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply.substr(0, 300);
        if (isFake()) {
            const std::string text = reply.substr(reply.find("\r\n\r\n") + 4);
            EXPECT_NE(text.find("overlap=0"), std::string::npos) << text;
            EXPECT_NE(text.find("turn=" + std::to_string(i) + "\""), std::string::npos)
                << "request " << i << " was not served in its turn: " << text;
        }
    }
}

TEST_P(ServerProcessTest, SigtermEndsItPromptlyAndFreesThePort) {
    const Engine e = engine("transcribe_ms=5000");
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);

    // A transcription in flight must not hold the process up.
    auto inFlight = std::async(std::launch::async, [port] {
        auto c = client(port);
        return c.Post("/transcribe", speechWav(20.0), "audio/wav");
    });
    std::this_thread::sleep_for(200ms);

    const auto sent = std::chrono::steady_clock::now();
    server->signal(SIGTERM);
    const auto status = server->waitExit(1s);
    ASSERT_TRUE(status.has_value()) << "still running a second after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(RunningServer::canBind(port)) << "port still held";
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 1s);
    inFlight.get();
}

TEST_P(ServerProcessTest, SlowClientsCannotLockOutProbesOrTranscriptions) {
    const Engine e = engine("transcribe_ms=1500");
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);

    // Forty clients that each add a header line every second and never finish their request,
    // and four that send their announced body just as slowly.
    std::vector<int> slow, slowBodies;
    for (int i = 0; i < 40; ++i) slow.push_back(openAndSend(port, "GET / HTTP/1.1\r\nHost: x\r\n"));
    for (int i = 0; i < 4; ++i)
        slowBodies.push_back(openAndSend(port, "POST /transcribe HTTP/1.1\r\nContent-Length: 9000\r\n\r\nRIFF"));
    std::jthread trickler([&slow, &slowBodies](std::stop_token stop) {
        while (!stop.stop_requested()) {
            for (int s : slow) ::send(s, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
            for (int s : slowBodies) ::send(s, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
            for (int i = 0; i < 10 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(100ms);
        }
    });
    auto quick = [port] {
        httplib::Client c("127.0.0.1", port);
        c.set_connection_timeout(2s);
        c.set_read_timeout(2s);
        c.set_write_timeout(2s);
        return c;
    };

    // A transcription and, while it runs, five probes: each answered within 2 s.
    auto transcription = std::async(std::launch::async, [&] {
        return quick().Post("/inference", inferenceBody(speechWav(), "en"), kMultipartType);
    });
    std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 5; ++i) {
        auto probe = quick().Get(i % 2 ? "/" : "/health");
        ASSERT_TRUE(probe) << "probe " << i << " got no answer within 2 s";
        EXPECT_EQ(probe->status, 200);
    }
    const auto res = transcription.get();
    ASSERT_TRUE(res) << "the transcription got no answer within 2 s";
    EXPECT_EQ(res->status, 200) << res->body;

    // Connections beyond the bound (64 by default, 44 of them slow) are refused at once rather
    // than queued.
    std::vector<int> idle;
    for (int i = 0; i < 20; ++i) idle.push_back(openAndSend(port, ""));
    const int extra = openAndSend(port, "GET / HTTP/1.1\r\n\r\n");
    const std::string refused = replyWithin(extra, 1s);
    ::close(extra);
    EXPECT_EQ(refused.rfind("HTTP/1.1 503", 0), 0u) << refused.substr(0, 200);

    // However steadily they trickle, slow clients are cut off by the deadline for the headers.
    std::vector<std::future<std::string>> cutOff;
    for (int s : slow) cutOff.push_back(std::async(std::launch::async, [s] { return replyWithin(s, 10s); }));
    for (auto& f : cutOff) {
        const std::string reply = f.get();
        EXPECT_EQ(reply.rfind("HTTP/1.1 408", 0), 0u) << reply.substr(0, 200);
    }
    // And a body has a deadline of its own, scaled to its size.
    for (int s : slowBodies) {
        const std::string reply = replyWithin(s, 15s);
        EXPECT_EQ(reply.rfind("HTTP/1.1 400", 0), 0u) << reply.substr(0, 200);
    }
    trickler.request_stop();
    trickler.join();
    for (int s : slow) ::close(s);
    for (int s : slowBodies) ::close(s);
    for (int s : idle) ::close(s);
    auto after = quick().Get("/health");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

TEST_P(ServerProcessTest, BadFramingIsAnsweredAtOnceWithoutWaitingForTheBody) {
    const Engine e = engine();
    REQUIRE_ENGINE(e);
    int port = 0;
    auto server = start(e, port);
    const struct {
        const char* what;
        std::string head;
        int status;
    } cases[] = {
        {"negative length", "POST /transcribe HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n", 400},
        {"length not a number", "POST /inference HTTP/1.1\r\nHost: x\r\nContent-Length: 12abc\r\n\r\n", 400},
        {"conflicting lengths", "POST /transcribe HTTP/1.1\r\nContent-Length: 4\r\nContent-Length: 9\r\n\r\n", 400},
        {"oversized length", "POST /transcribe HTTP/1.1\r\nHost: x\r\nContent-Length: 104857601\r\n\r\n", 413},
        {"100 KB header", "GET /health HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100 * 1024, 'a') + "\r\n\r\n", 431},
    };
    for (const auto& c : cases) {
        // The body never comes, so a server that waited for it would miss every attempt; a
        // second attempt only forgives a thread the scheduler started late on a busy machine.
        std::string reply;
        for (int attempt = 0; attempt < 2 && reply.empty(); ++attempt) {
            const int s = openAndSend(port, c.head);
            reply = replyWithin(s, 100ms);
            ::close(s);
        }
        EXPECT_EQ(reply.rfind("HTTP/1.1 " + std::to_string(c.status), 0), 0u) << c.what << ": " << reply.substr(0, 200);
        const auto bodyAt = reply.find("\r\n\r\n");
        const json error = bodyAt == std::string::npos ? json() : json::parse(reply.substr(bodyAt + 4), nullptr, false);
        EXPECT_TRUE(error.is_object() && error["error"].is_string()) << c.what << ": " << reply.substr(0, 300);
    }
}

// The log names the kernel set and why; a TOVRIN_SPEECH_ISA naming no set stops the server
// with the valid values. Case is ignored.
TEST_P(ServerProcessTest, NamesItsKernelSetAndRefusesAnUnknownOne) {
    if (isFake()) GTEST_SKIP() << "the kernels belong to the speech engine";
    const Engine e = engine();
    REQUIRE_ENGINE(e);
    auto logOf = [](const RunningServer& s) {
        std::ifstream in(s.logPath());
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    struct Case {
        const char* value;
        std::string logged;
    };
    for (const Case& c : {Case{nullptr, ", detected"}, Case{"GENERIC", "speech kernels: generic, forced by TOVRIN_SPEECH_ISA"}}) {
        if (c.value) ::setenv("TOVRIN_SPEECH_ISA", c.value, 1);
        int port = 0;
        auto server = start(e, port);
        ::unsetenv("TOVRIN_SPEECH_ISA");
        EXPECT_NE(logOf(*server).find(c.logged), std::string::npos) << logOf(*server);
        EXPECT_NE(logOf(*server).find("speech kernels: "), std::string::npos);
    }
    for (const char* bad : {"bogus", "AVX-2"}) {
        ::setenv("TOVRIN_SPEECH_ISA", bad, 1);
        RunningServer server(e.executable, {"-m", e.model, "--port", std::to_string(RunningServer::freePort())},
                             (dir_ / ("isa-" + std::to_string(counter_++) + ".log")).string());
        ::unsetenv("TOVRIN_SPEECH_ISA");
        auto status = server.waitExit(10s);
        ASSERT_TRUE(status.has_value()) << bad;
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << bad;
        EXPECT_NE(logOf(server).find("TOVRIN_SPEECH_ISA=" + std::string(bad) +
                                     " names no kernel set; valid values: avx512, avx2, generic"),
                  std::string::npos)
            << logOf(server);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerProcessTest, ::testing::Values("fake", "whisper"),
                         [](const auto& info) { return info.param; });

// Readiness is real: the port answers 503 while the model loads, 200 after.
TEST(ServerProcess, ReportsReadyOnlyAfterTheModelLoaded) {
    const fs::path model = fs::temp_directory_path() / ("tovrin-slow-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(model) << "load_ms=800\n";
    const int port = RunningServer::freePort();
    RunningServer server(TOVRIN_FAKE_SERVER, {"-m", model.string(), "--port", std::to_string(port)}, "/dev/null");
    ASSERT_TRUE(server.waitListening(port, 5s));
    httplib::Client c("127.0.0.1", port);
    auto probe = c.Get("/");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->status, 503);
    auto early = c.Post("/inference", inferenceBody(speechWav(), "auto"), kMultipartType);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 503);
    EXPECT_TRUE(parsed(early)["error"].is_string());
    EXPECT_TRUE(server.waitReady(port, 5s));
    fs::remove(model);
}

TEST(ServerProcess, ExitsCleanlyOnFailureOrSignalAtAnyStage) {
    const fs::path model = fs::temp_directory_path() / ("tovrin-bad-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(model) << "fail_load=1\n";
    const int port = RunningServer::freePort();
    RunningServer broken(TOVRIN_FAKE_SERVER, {"-m", model.string(), "--port", std::to_string(port)}, "/dev/null");
    auto status = broken.waitExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1);

    // A second server must not share a port another one listens on.
    std::ofstream(model) << "load_ms=0\n";
    RunningServer first(TOVRIN_FAKE_SERVER, {"-m", model.string(), "--port", std::to_string(port)}, "/dev/null");
    ASSERT_TRUE(first.waitReady(port, 5s));
    RunningServer second(TOVRIN_FAKE_SERVER, {"-m", model.string(), "--port", std::to_string(port)}, "/dev/null");
    status = second.waitExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1);

    // A server still loading its model stops at once too.
    std::ofstream(model) << "load_ms=5000\n";
    const int slowPort = RunningServer::freePort();
    RunningServer loading(TOVRIN_FAKE_SERVER, {"-m", model.string(), "--port", std::to_string(slowPort)}, "/dev/null");
    ASSERT_TRUE(loading.waitListening(slowPort, 5s));
    loading.signal(SIGTERM);
    status = loading.waitExit(1s);
    ASSERT_TRUE(status.has_value()) << "a loading server ignored SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(RunningServer::canBind(slowPort));

    RunningServer noModel(TOVRIN_FAKE_SERVER, {"--port", "1"}, "/dev/null");
    status = noModel.waitExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), 2);
    fs::remove(model);
}
