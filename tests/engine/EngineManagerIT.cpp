// The engine against the real speech server executable of the bundle, on a generated model,
// on the real port, with the real main queue.
#include "state/AppSettings.h"
#include "dictation/AudioRecorder.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "engine/WhisperClient.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/PortListeners.h"
#include "platform/qt/QtScheduler.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

platform::QtScheduler* g_scheduler = nullptr;

const std::string kServer = std::string(TOVRIN_BUNDLE_DIR) + "/resources/engine-x86/whisper-server";
#ifdef TOVRIN_MAKE_TEST_MODEL
const std::string kMakeModel = TOVRIN_MAKE_TEST_MODEL;
#else
const std::string kMakeModel;
#endif

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> commandLine(long pid) {
    const std::string raw = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    return args;
}

bool alive(long pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// A tone with a little noise, so the recogniser has something to chew on.
std::string speechLikeWav(double seconds) {
    std::string pcm;
    const int n = static_cast<int>(seconds * 16000);
    for (int i = 0; i < n; ++i) {
        const double s = 0.3 * std::sin(2 * M_PI * 220 * i / 16000.0) + 0.05 * ((i * 7919 % 200) / 100.0 - 1);
        const auto v = static_cast<int16_t>(s * 32767);
        pcm.push_back(static_cast<char>(v & 0xff));
        pcm.push_back(static_cast<char>((v >> 8) & 0xff));
    }
    return AudioRecorder::wav(pcm);
}

class EngineManagerIT : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kServer)) GTEST_SKIP() << "whisper-server is not built: " << kServer;
        if (kMakeModel.empty() || !fs::exists(kMakeModel)) GTEST_SKIP() << "make-test-model is not built";
        test::reset();
        platform::Scheduler::setMain(g_scheduler);
        setenv("XDG_DATA_HOME", (root.path() + "/data").c_str(), 1);
        setenv("XDG_STATE_HOME", (root.path() + "/state").c_str(), 1);
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        platform::Paths::makeDirectories(root.path() + "/data/Wendaro/models");
        modelPath = root.path() + "/data/Wendaro/models/ggml-large-v3-turbo.bin";
        QProcess make;
        make.start(QString::fromStdString(kMakeModel),
                   {"--preset", "test", "-o", QString::fromStdString(modelPath)});
        ASSERT_TRUE(make.waitForFinished(120000));
        ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
        ModelManager::shared().reload();
        ASSERT_EQ(ModelManager::shared().resolvedActivePath(), modelPath);
        EngineManager::shared().resetForTesting();
    }
    void TearDown() override {
        EngineManager::shared().resetForTesting();
        // Let the stopped server go before the next case claims the port.
        test::pumpUntil([] { return platform::PortListeners::listeners(8791).empty(); }, 10);
        for (auto* p : helpers) {
            p->kill();
            p->waitForFinished(2000);
            delete p;
        }
        platform::Paths::setBundleOverride("");
    }

    // The pid of the server listening on the engine's port.
    long serverPid() {
        const auto pids = platform::PortListeners::listeners(8791);
        return pids.size() == 1 ? pids[0] : 0;
    }
    QProcess* python(const std::string& script) {
        auto* p = new QProcess;
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start("python3", {"-u", "-c", QString::fromStdString(script)});
        helpers.push_back(p);
        return p;
    }
    bool saysReady(QProcess* p) {
        return test::pumpUntil([&] { return p->canReadLine() || p->waitForReadyRead(10); }, 10) &&
               p->readLine().trimmed() == "ready";
    }

    test::TempFolder root;
    std::string modelPath;
    std::vector<QProcess*> helpers;
};

TEST_F(EngineManagerIT, LaunchesBecomesReadyTranscribesAndStopsOnAProviderChange) {
    auto& engine = EngineManager::shared();
    AppSettings::shared().setProvider("local");  // brings the engine in line on the main queue
    ASSERT_TRUE(test::pumpUntil([&] { return engine.running(); }, 5));
    EXPECT_TRUE(test::await(engine.waitUntilReady(90), 100));

    const long pid = serverPid();
    ASSERT_GT(pid, 0);
    const int threads = std::max(4, platform::Machine::processorCount() - 2);
    EXPECT_EQ(commandLine(pid), (std::vector<std::string>{kServer, "-m", modelPath, "--host", "127.0.0.1", "--port", "8791",
                                                           "--threads", std::to_string(threads), "--weights", "q8"}));

    WhisperClient client;
    const WhisperResult result = test::await(client.transcribe(speechLikeWav(1.5), "en"), 120);
    EXPECT_EQ(result.language, "en");
    EXPECT_TRUE(test::await(client.isHealthy(), 10));
    EXPECT_FALSE(readFile(EngineManager::logURL()).empty());  // the server's own output

    AppSettings::shared().setProvider("groq");
    ASSERT_TRUE(test::pumpUntil([&] { return !engine.running(); }, 5));
    ASSERT_TRUE(test::pumpUntil([&] { return !alive(pid); }, 10));
    test::pumpFor(0.3);
    EXPECT_FALSE(engine.lastExitCode());
}

TEST_F(EngineManagerIT, ACrashIsRecordedAsItsExitStatus) {
    auto& engine = EngineManager::shared();
    engine.startIfPossible();
    ASSERT_TRUE(engine.running());
    ASSERT_TRUE(test::await(engine.waitUntilReady(90), 100));
    const long pid = serverPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGSEGV);
    ASSERT_TRUE(test::pumpUntil([&] { return !engine.running(); }, 10));
    EXPECT_EQ(engine.lastExitCode(), SIGSEGV);
    EXPECT_FALSE(engine.inferenceURL());
}

TEST_F(EngineManagerIT, StaleListenersOnAnyAddressAreKilledBeforeLaunchButClientsAndWeSurvive) {
    // Listeners on the loopback address, on every IPv4 address and on every IPv6 address (which
    // takes IPv4 too): each one alone keeps the server from binding. They share the port.
    std::vector<QProcess*> stale;
    for (const std::string& at : {"AF_INET, '127.0.0.1'", "AF_INET, '0.0.0.0'", "AF_INET6, '::'"}) {
        const std::string family = at.substr(0, at.find(','));
        const std::string host = at.substr(at.find(',') + 2);
        stale.push_back(python("import socket, time\n"
                               "s = socket.socket(socket." + family + ")\n"
                               "for o in (socket.SO_REUSEADDR, socket.SO_REUSEPORT): s.setsockopt(socket.SOL_SOCKET, o, 1)\n"
                               "s.bind((" + host + ", 8791)); s.listen(8)\n"
                               "print('ready')\n"
                               "time.sleep(120)\n"));
        ASSERT_TRUE(saysReady(stale.back())) << at;
    }
    QProcess* client = python(
        "import socket, time\n"
        "c = socket.create_connection(('127.0.0.1', 8791))\n"
        "print('ready')\n"
        "time.sleep(120)\n");
    ASSERT_TRUE(saysReady(client));
    const long clientPid = client->processId();
    // We listen on the port too while the sweep runs, and let go right after it.
    const int own = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    for (int option : {SO_REUSEADDR, SO_REUSEPORT}) ASSERT_EQ(::setsockopt(own, SOL_SOCKET, option, &one, sizeof one), 0);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(8791);
    ASSERT_EQ(::bind(own, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(own, 8), 0);

    auto& engine = EngineManager::shared();
    bool swept = false;
    engine.setStaleListenerKiller([&](int port) {
        platform::PortListeners::killListeners(port);
        swept = true;
        ::close(own);
    });
    engine.startIfPossible();
    if (!swept) ::close(own);
    ASSERT_TRUE(swept);
    ASSERT_TRUE(engine.running());
    for (QProcess* p : stale) {
        ASSERT_TRUE(test::pumpUntil([&] { return p->state() == QProcess::NotRunning; }, 5));
        EXPECT_EQ(p->exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(p->exitCode(), SIGKILL);
    }
    EXPECT_TRUE(test::await(engine.waitUntilReady(90), 100));
    EXPECT_EQ(client->state(), QProcess::Running);
    EXPECT_TRUE(alive(clientPid));
    EXPECT_NE(serverPid(), clientPid);
}

TEST_F(EngineManagerIT, AServerThatCannotBeStartedIsExitCodeMinusOne) {
    test::TempFolder bundle;
    bundle.write("resources/engine-x86/whisper-server", "not a program");  // not executable
    platform::Paths::setBundleOverride(bundle.path());
    auto& engine = EngineManager::shared();
    engine.startIfPossible();
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(engine.lastExitCode(), -1);
    EXPECT_FALSE(test::await(engine.waitUntilReady(3), 5));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::QtScheduler scheduler;
    g_scheduler = &scheduler;
    return RUN_ALL_TESTS();
}
