// The road through the program's own local server and through a cloud provider, on the
// headless desktop with the program run as a new user. The local server is our whisper-server
// with a generated model: its words mean nothing, but the launch, the readiness, the warm-up,
// the request and the timing are the real ones. The cloud provider is a fake on loopback
// (TOVRIN_TEST_CLOUD_BASE_URL), which fails on demand so that the fallback to the local
// server is taken.
#include "e2e/RoadFixture.h"
#include "support/LoopbackHttpServer.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <regex>
#include <sstream>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServerName = "whisper-server";

class EngineRoadIT : public RoadTest {
protected:
    static void SetUpTestSuite() {
        RoadTest::SetUpTestSuite();
        if (!setupError_.empty()) return;
        if (std::string(TOVRIN_MAKE_TEST_MODEL).empty() || !fs::exists(TOVRIN_WHISPER_SERVER)) {
            setupError_ = "the speech server or the model generator is not built";
            return;
        }
        model_ = pulse_->folder() + "/ggml-tiny.bin";
        std::string out;
        if (test::desktop().run({TOVRIN_MAKE_TEST_MODEL, "--preset", "tiny", "-o", model_}, &out, 60) != 0)
            setupError_ = "make-test-model failed: " + out;
    }

    // A new user whose on-device model is installed.
    void newUserWithModel(const std::string& defaultsJson) {
        road_->freshUser(defaultsJson);
        fs::create_directories(road_->modelsDir());
        fs::copy_file(model_, road_->modelsDir() + "/ggml-tiny.bin");
    }

    std::string engineLog() const { return readFile(road_->stateDir() + "/engine.log"); }
    // The server's transcription lines: "/inference: 3.64 s of audio (...) ...".
    std::vector<double> inferenceSeconds() const {
        static const std::regex line(R"(/inference: ([0-9.]+) s of audio)");
        std::vector<double> out;
        const std::string log = engineLog();
        for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
            out.push_back(std::stod((*it)[1]));
        return out;
    }
    std::vector<pid_t> servers() const { return childrenNamed(road_->programPid(), kServerName); }

    static inline std::string model_;
};

TEST_F(EngineRoadIT, TheLocalProviderRunsTheEngineWarmsItUpOnceTranscribesAndStopsItOnQuit) {
    newUserWithModel(R"({"provider":"local","pttKeyCode":62,"activeModel":"tiny"})");
    launchAsIs();

    // Started by the program with the installed model, on its port, with its log.
    ASSERT_TRUE(waitUntil([&] { return servers().size() == 1; }, 10)) << "no engine was started";
    const pid_t engine = servers().front();
    const auto args = commandLine(engine);
    ASSERT_GE(args.size(), 5u);
    EXPECT_EQ(args[0], TOVRIN_WHISPER_SERVER);
    EXPECT_EQ(args[1], "-m");
    EXPECT_EQ(args[2], road_->modelsDir() + "/ggml-tiny.bin");
    EXPECT_NE(std::find(args.begin(), args.end(), "8791"), args.end());
    EXPECT_TRUE(fs::exists(road_->stateDir() + "/engine.log"));

    // Ready, then one warm-up request of half a second of silence.
    ASSERT_TRUE(waitUntil([&] { return inferenceSeconds().size() == 1; }, 30)) << engineLog();
    EXPECT_NEAR(inferenceSeconds()[0], 0.5, 0.01);
    EXPECT_NE(engineLog().find("ready"), std::string::npos);

    const Clip& c = clip("the quick brown fox jumps over the lazy dog");
    holdAndSay(c);
    ASSERT_TRUE(road_->titles().waitFor("Inserted ✓", 30)) << engineLog();
    ASSERT_TRUE(waitUntil([&] { return !road_->targetText().empty(); }, 3));
    const auto row = road_->sql("SELECT text || '|' || seconds FROM history").value_or("");
    EXPECT_EQ(row.substr(0, row.find('|')), road_->targetText()) << "the stored text is the pasted text";
    const double seconds = std::atof(row.substr(row.find('|') + 1).c_str());

    const auto requests = inferenceSeconds();
    ASSERT_EQ(requests.size(), 2u) << "warmed up once, then the dictation\n" << engineLog();
    EXPECT_NEAR(requests[1], seconds, 0.01) << "the server got the whole recording";
    EXPECT_EQ(servers(), std::vector<pid_t>{engine}) << "the same server throughout";

    // Ending the program stops the server it started.
    EXPECT_EQ(road_->quitProgram(), 0);
    EXPECT_TRUE(waitUntil([&] { return !running(engine); }, 5)) << "the engine outlived the program";

    // With a cloud provider chosen the engine is not started, though the model is there.
    road_->freshUser(R"({"provider":"groq","pttKeyCode":62,"activeModel":"tiny"})");
    fs::create_directories(road_->modelsDir());
    fs::copy_file(model_, road_->modelsDir() + "/ggml-tiny.bin");
    ASSERT_TRUE(road_->startProgram());
    waitUntil([] { return false; }, 2.0);
    EXPECT_TRUE(servers().empty()) << "an engine runs for a cloud provider";
}

TEST_F(EngineRoadIT, ALockedKeyringHoldsUpNeitherTheLaunchNorTheDictationNorTheQuit) {
    newUserWithModel(R"({"provider":"local","pttKeyCode":62,"activeModel":"tiny"})");
    // A stored sign-in, so that the launch reads the keyring.
    ASSERT_EQ(test::desktop().run({"sh", "-c",
                                   "printf %s rt-e2e | secret-tool store --label=rt service app.tovrin.mac "
                                   "account refreshToken"}),
              0);
    ASSERT_TRUE(test::desktop().lockKeyring());
    struct Unlock {
        ~Unlock() { test::desktop().unlockKeyring(); }
    } unlockAtEnd;

    ASSERT_TRUE(road_->startTarget());
    const double start = now();
    ASSERT_TRUE(road_->startProgram()) << road_->programLog();
    const bool onboarding = waitUntil(
        [&] {
            for (const auto& w : windowsOf(test::desktop().display(), road_->programPid()))
                if (w.viewable && w.title == "Welcome to Tovrin") return true;
            return false;
        },
        3 - (now() - start), 0.02);
    ASSERT_TRUE(onboarding) << "no onboarding window within 3 s of the launch";
    ASSERT_TRUE(road_->focusTarget());

    ASSERT_TRUE(waitUntil([&] { return inferenceSeconds().size() == 1; }, 30)) << engineLog();
    holdAndSay(clip("the quick brown fox jumps over the lazy dog"));
    ASSERT_TRUE(road_->titles().waitFor("Inserted ✓", 30)) << engineLog();
    EXPECT_TRUE(waitUntil([&] { return !road_->targetText().empty(); }, 3));

    const auto engines = servers();
    ASSERT_EQ(engines.size(), 1u);
    const double signalled = now();
    road_->quitProgram(1);
    EXPECT_TRUE(waitUntil([&] { return !running(engines[0]); }, 1 - (now() - signalled)))
        << "the engine still runs 1 s after SIGTERM";
    EXPECT_LT(now() - signalled, 1.0) << "the program took longer than 1 s to end";
}

TEST_F(EngineRoadIT, TheCloudRouteUsesTheProviderAndFallsBackToTheLocalEngineWhenItFails) {
    std::atomic<bool> failing{false};
    test::LoopbackHttpServer provider([&](const test::RecordedRequest&) {
        test::CannedReply reply;
        if (failing) {
            reply.status = 503;
            reply.body = R"({"error":{"message":"over capacity"}})";
        } else {
            reply.body = R"({"text":" hello from the cloud "})";
        }
        reply.headers = {{"Content-Type", "application/json"}};
        return reply;
    });
    newUserWithModel(R"({"provider":"groq","pttKeyCode":62,"activeModel":"tiny"})");
    ASSERT_EQ(test::desktop().run({"sh", "-c",
                                   "printf %s gsk-e2e-key | secret-tool store --label=groq service "
                                   "app.tovrin.mac.secrets account groqApiKey"}),
              0);
    launchAsIs({"TOVRIN_TEST_CLOUD_BASE_URL=" + provider.baseUrl()});
    waitUntil([] { return false; }, 1.0);
    EXPECT_TRUE(servers().empty()) << "no engine runs for a cloud provider";

    const Clip& c = clip("this message was typed by voice");
    holdAndSay(c);
    ASSERT_TRUE(waitForText("hello from the cloud")) << "target holds: \"" << road_->targetText() << "\"";
    ASSERT_EQ(provider.requests().size(), 1u);
    const auto request = provider.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/openai/v1/audio/transcriptions");
    EXPECT_EQ(request.header("Authorization"), "Bearer gsk-e2e-key");
    EXPECT_NE(request.body.find("RIFF"), std::string::npos) << "the recording is in the request";
    EXPECT_TRUE(servers().empty()) << "a working provider needs no fallback";

    // The provider fails: the local engine is started and transcribes instead.
    failing = true;
    road_->titles().clear();
    const std::string before = road_->targetText();
    holdAndSay(c);
    ASSERT_TRUE(road_->titles().waitFor("Inserted ✓", 60)) << engineLog();
    EXPECT_EQ(provider.requests().size(), 2u);
    EXPECT_EQ(servers().size(), 1u) << "the fallback runs the engine";
    EXPECT_TRUE(waitUntil([&] { return road_->targetText().size() > before.size(); }, 3));
    EXPECT_EQ(road_->sql("SELECT count(*) FROM history").value_or(""), "2\n");
    const auto requests = inferenceSeconds();
    ASSERT_FALSE(requests.empty()) << engineLog();
    EXPECT_GT(requests.back(), c.seconds - 0.01) << "the engine got the whole recording";
}

TEST_F(EngineRoadIT, AnEngineThatDiesIsStartedAgainAndTranscribesTheNextDictation) {
    newUserWithModel(R"({"provider":"local","pttKeyCode":62,"activeModel":"tiny"})");
    launchAsIs();
    ASSERT_TRUE(waitUntil([&] { return servers().size() == 1; }, 10)) << "no engine was started";
    const pid_t first = servers().front();
    ASSERT_TRUE(waitUntil([&] { return inferenceSeconds().size() == 1; }, 30)) << engineLog();

    ::kill(first, SIGKILL);
    waitUntil([] { return false; }, 2.0);
    holdAndSay(clip("the quick brown fox jumps over the lazy dog"));
    ASSERT_TRUE(road_->titles().waitFor("Inserted ✓", 30)) << engineLog();
    EXPECT_TRUE(waitUntil([&] { return !road_->targetText().empty(); }, 3));
    const auto now = servers();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now.front(), first) << "the killed engine is still there";
    // The new engine's log (each launch starts one): its warm-up, then the dictation.
    EXPECT_TRUE(waitUntil([&] { return inferenceSeconds().size() == 2; }, 3)) << engineLog();
}

TEST_F(EngineRoadIT, TheEngineNeverOutlivesTheProgram) {
    const std::string settings = R"({"provider":"local","pttKeyCode":62,"activeModel":"tiny"})";
    // The engine is stopped (SIGSTOP: it cannot act on SIGTERM) when the program is asked to end.
    newUserWithModel(settings);
    launchAsIs();
    ASSERT_TRUE(waitUntil([&] { return servers().size() == 1; }, 10)) << "no engine was started";
    const pid_t stopped = servers().front();
    ::kill(stopped, SIGSTOP);
    road_->quitProgram(5);
    EXPECT_TRUE(waitUntil([&] { return !running(stopped); }, 1)) << "a stopped engine outlived the program";
    ::kill(stopped, SIGKILL);
    road_->stopProgram();

    // The program is killed outright.
    newUserWithModel(settings);
    launchAsIs();
    ASSERT_TRUE(waitUntil([&] { return servers().size() == 1; }, 10)) << "no engine was started";
    const pid_t engine = servers().front();
    ::kill(road_->programPid(), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return !running(engine); }, 2)) << "the engine outlived a killed program";
    road_->stopProgram();

    // The program's X server dies (on a display of its own, so this desktop stays).
    const std::string xlog = pulse_->folder() + "/own-xvfb.log";
    fs::remove(xlog);
    const pid_t xvfb = e2e::launch({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                              road_->environment(), xlog);
    std::string display;
    ASSERT_TRUE(waitUntil(
        [&] {
            std::istringstream lines(readFile(xlog));
            for (std::string line; std::getline(lines, line);)
                if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit)) display = ":" + line;
            return !display.empty();
        },
        10))
        << readFile(xlog);
    newUserWithModel(settings);
    const std::string log = pulse_->folder() + "/program-own-x.log";
    fs::remove(log);
    const pid_t program = e2e::launch({TOVRIN_PROGRAM}, road_->environment({"DISPLAY=" + display}), log);
    std::vector<pid_t> engines;
    const bool started = waitUntil([&] { return (engines = childrenNamed(program, kServerName)).size() == 1; }, 20);
    if (started) {
        ::kill(xvfb, SIGKILL);
        EXPECT_TRUE(waitUntil([&] { return !alive(program) && !running(engines[0]); }, 2))
            << (alive(program) ? "the program" : "its engine") << " outlived the X server\n" << readFile(log);
    }
    stopGroup(program, 1);
    stopGroup(xvfb, 1);
    ASSERT_TRUE(started) << "no engine was started\n" << readFile(log);
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {true, true, true}); }
