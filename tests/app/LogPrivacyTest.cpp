// The diagnostic log never holds what the user said or keeps. A transcript, a dictionary term (and
// its replacement), an API key and an account token are planted; a dictation, failed requests
// whose replies quote them back, a store that cannot take the row and a crash all run with the log
// file installed; then the log is searched for each of them.
#include "cloud/BackendClient.h"
#include "cloud/CloudTranscriber.h"
#include "cloud/Enhancer.h"
#include "dictation/DictationController.h"
#include "dictation/Transcriber.h"
#include "engine/WhisperClient.h"
#include "state/AppSettings.h"
#include "state/Database.h"
#include "state/Secrets.h"
#include "platform/CrashReporter.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/qt/QtLogFile.h"
#include "support/AsyncWait.h"
#include "support/DictationFakes.h"
#include "support/LoopbackHttpServer.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kTranscript = "Zorblatt quintessence of Vexmorrow";
const std::string kTerm = "Vexmorrow";
const std::string kReplacement = "Quillfeather";
const std::string kKey = "gsk_plantedKey5521";
const std::string kToken = "refresh-plantedToken9043";

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(LogPrivacy, NoTranscriptTermKeyOrTokenReachesTheLog) {
    test::reset();
    test::TempFolder folder;
    const std::string logPath = folder.path() + "/state/Tovrin/tovrin.log";
    platform::QtLogFile::install(logPath);

    // Every reply quotes the request back, as some services do in their error texts.
    bool transcriptionRefused = false;
    test::LoopbackHttpServer server([&](const test::RecordedRequest& r) {
        const std::string echo = "you sent " + kKey + " " + kToken + " " + kTranscript + " " + kReplacement;
        if (r.path.find("transcriptions") != std::string::npos)
            return transcriptionRefused
                       ? test::CannedReply{401, R"({"error":{"message":"Invalid API key )" + echo + R"("}})"}
                       : test::CannedReply{200, R"({"text":")" + kTranscript + R"("})"};
        if (r.path.find("completions") != std::string::npos)
            return test::CannedReply{401, R"({"error":{"message":")" + echo + R"("}})"};
        if (r.path.find("refresh") != std::string::npos)
            return test::CannedReply{401, R"({"error":{"code":"INVALID_TOKEN","message":")" + echo + R"("}})"};
        return test::CannedReply{500, "{not json " + echo};
    });

    AppSettings& settings = AppSettings::shared();
    settings.setProvider("groq");
    settings.setAiEnhanceEnabled(true);
    settings.setEnhanceProvider("groq");
    settings.setApplyDictionary(true);
    Secrets::set(kKey, Secrets::apiKeyAccount("groq"));
    ASSERT_TRUE(Database::shared().dictAdd(kTerm, kReplacement));

    // The history goes to a store that another process holds locked.
    test::TempFolder storeFolder;
    auto store = std::make_unique<Database>(storeFolder.path());
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(store->path().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    DictationController::Parts parts;
    parts.whisper = std::make_unique<WhisperClient>();
    std::map<CloudTranscriber::Provider, std::string> bases;
    for (auto p : CloudTranscriber::allProviders()) bases[p] = server.baseUrl();
    parts.cloud = std::make_unique<CloudTranscriber>(platform::Http::create(60), bases);
    parts.transcriber = std::make_unique<Transcriber>(*parts.whisper, *parts.cloud);
    auto enhancer = std::make_unique<Enhancer>();
    enhancer->setEndpoint(Enhancer::Provider::groq, server.baseUrl() + "/v1/chat/completions");
    parts.enhancer = std::move(enhancer);
    auto injector = std::make_unique<test::FakeInjector>();
    auto* pasted = injector.get();
    parts.injector = std::move(injector);
    parts.recorder = std::make_unique<test::FakeRecorder>();
    parts.widget = std::make_unique<test::FakeWidget>();
    parts.history = store.get();
    DictationController controller(std::move(parts));

    const auto dictate = [&] {
        controller.startRecording();
        test::fakes().scheduler.advance(1);
        controller.finishRecording();
        // The fake clock stands still: every reply arrives within the rewrite's time budget.
        return test::driveUntil([&] { return controller.state() == DictationController::State::idle; }, 20);
    };
    // A dictation: transcribed, the term replaced, the rewrite refused, the row not stored.
    ASSERT_TRUE(dictate());
    ASSERT_EQ(pasted->pasted.size(), 1u);
    EXPECT_NE(pasted->pasted[0].find(kReplacement), std::string::npos) << "the dictation ran through the dictionary";
    // A dictation whose transcription is refused.
    transcriptionRefused = true;
    ASSERT_TRUE(dictate());
    EXPECT_EQ(pasted->pasted.size(), 1u);

    // The account service refuses a stored token.
    test::fakes().defaults.setString("backendURL", server.baseUrl() + "/api");
    test::fakes().keychain.set(BackendClient::kKeychainService, BackendClient::kRefreshTokenAccount, kToken);
    {
        BackendClient account;
        EXPECT_THROW(test::await(account.refresh()), std::exception);
    }

    // A crash: the record is written, and the next start's report is refused.
    platform::CrashReporterOptions crash;
    crash.dsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:" + std::to_string(server.port()) + "/2";
    const pid_t child = fork();
    if (child == 0) {
        platform::CrashReporter::start(crash);
        raise(SIGSEGV);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(test::await(platform::CrashReporter::sendPending(crash)), 0);

    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    store.reset();
    platform::QtLogFile::uninstall();

    const std::string log = read(logPath) + read(logPath + ".1");
    // The failures were logged, each with its cause.
    EXPECT_NE(log.find("HTTP 401"), std::string::npos) << log;
    EXPECT_NE(log.find("history write failed"), std::string::npos) << log;
    EXPECT_NE(log.find("the rewrite failed"), std::string::npos) << log;
    EXPECT_NE(log.find("the transcription failed"), std::string::npos) << log;
    EXPECT_NE(log.find("INVALID_TOKEN"), std::string::npos) << log;
    EXPECT_NE(log.find("/api/2/envelope/: HTTP 500"), std::string::npos) << log;
    for (const std::string& planted : {std::string("Zorblatt"), std::string("quintessence"), kTerm, kReplacement, kKey,
                                       std::string("plantedKey"), kToken, std::string("plantedToken")})
        EXPECT_EQ(log.find(planted), std::string::npos) << "\"" << planted << "\" is in the log:\n" << log;
}

}  // namespace
