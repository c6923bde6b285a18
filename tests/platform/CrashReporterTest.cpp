#include "platform/CrashReporter.h"

#include "platform/Paths.h"
#include "support/LoopbackHttpServer.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(CrashReporter, TheDsnNamesTheEnvelopeEndpointAndKey) {
    const auto e = platform::CrashReporter::endpointFor("https://0123456789abcdef0123456789abcdef@crash.example.org/2");
    EXPECT_EQ(e.url, "https://crash.example.org/api/2/envelope/");
    EXPECT_NE(e.authHeader.find("sentry_key=0123456789abcdef0123456789abcdef"), std::string::npos);
    EXPECT_NE(e.authHeader.find("sentry_version=7"), std::string::npos);
    EXPECT_TRUE(platform::CrashReporter::endpointFor("https://crash.example.org/2").url.empty());
    EXPECT_TRUE(platform::CrashReporter::endpointFor("not a url").url.empty());
    EXPECT_TRUE(platform::CrashReporter::endpointFor("https://k@crash.example.org/").url.empty());
}

// A crash in a child process leaves a record that the next start sends and then removes.
TEST(CrashReporter, ACrashIsRecordedAndSentOnTheNextStart) {
    test::reset();
    platform::CrashReporterOptions options;
    options.dsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:1/2";  // nothing listens: sends fail
    const pid_t child = fork();
    if (child == 0) {
        platform::CrashReporter::start(options);
        raise(SIGSEGV);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    std::vector<fs::path> records;
    for (const auto& e : fs::directory_iterator(platform::CrashReporter::pendingFolder()))
        if (e.path().extension() == ".crash") records.push_back(e.path());
    ASSERT_EQ(records.size(), 1u);
    std::ifstream in(records[0]);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "signal " + std::to_string(SIGSEGV));

    test::LoopbackHttpServer server([](const test::RecordedRequest&) { return test::CannedReply{200, "{}"}; });
    options.dsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:" + std::to_string(server.port()) + "/2";
    EXPECT_EQ(test::await(platform::CrashReporter::sendPending(options)), 1);
    ASSERT_EQ(server.requests().size(), 1u);
    const auto req = server.requests()[0];
    EXPECT_EQ(req.path, "/api/2/envelope/");
    EXPECT_EQ(req.header("Content-Type"), "application/x-sentry-envelope");
    EXPECT_NE(req.body.find("\"type\":\"event\""), std::string::npos);
    EXPECT_NE(req.body.find("SIGSEGV"), std::string::npos);
    EXPECT_FALSE(fs::exists(records[0]));
}

TEST(CrashReporter, ARefusedRecordStaysForTheNextStart) {
    test::reset();
    platform::Paths::makeDirectories(platform::CrashReporter::pendingFolder());
    const std::string record = platform::CrashReporter::pendingFolder() + "/1-2.crash";
    std::ofstream(record) << "signal 6\nframe\n";
    test::LoopbackHttpServer server([](const test::RecordedRequest&) { return test::CannedReply{503, ""}; });
    platform::CrashReporterOptions options;
    options.dsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:" + std::to_string(server.port()) + "/2";
    EXPECT_EQ(test::await(platform::CrashReporter::sendPending(options)), 0);
    EXPECT_TRUE(fs::exists(record));
    fs::remove(record);
}

}  // namespace
