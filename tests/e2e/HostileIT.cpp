// The program under hostile conditions on the headless desktop: a transcript that would run a
// command in a terminal or carries a NUL, another user's server on the fixed port, a full disk
// under the data and settings folders, a store with a damaged page. The speech server on the
// fixed port is a stand-in that answers with a set text.
#include "e2e/RoadFixture.h"
#include "support/FakeSpeechServer.h"
#include "support/HeadlessDesktop.h"

#include <X11/Xlib.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLocal = R"({"provider":"local","pttKeyCode":62})";

class HostileIT : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        if (IsSkipped()) return;
        server_ = std::make_unique<test::FakeSpeechServer>(8756);
    }
    void TearDown() override {
        RoadTest::TearDown();
        server_.reset();
    }
    // The server's next answer is `text`.
    void willSay(const std::string& text) {
        server_->setReply(200, nlohmann::json{{"text", text}}.dump());
    }
    // Holds the push-to-talk key for a moment over the (silent) microphone.
    void dictate() {
        keys_->press("Control_R");
        EXPECT_TRUE(road_->titles().waitFor("Recording", 3)) << "the widget never showed the recording";
        waitUntil([] { return false; }, 0.8);
        keys_->release("Control_R");
    }
    // The same hold, with no recording expected: a route known to be offline may refuse at once.
    void holdKey() {
        keys_->press("Control_R");
        waitUntil([] { return false; }, 0.8);
        keys_->release("Control_R");
    }
    std::size_t transcriptions() const { return server_->requestsTo("POST", "/transcribe").size(); }

    std::unique_ptr<test::FakeSpeechServer> server_;
};

// A transcript with line breaks never runs anything in a terminal: the words land on one line.
TEST_F(HostileIT, ATranscriptRunsNoCommandInATerminal) {
    ASSERT_EQ(access("/usr/bin/lxterminal", X_OK), 0) << "lxterminal is not installed";
    const std::string work = test::desktop().home() + "/shell";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string script = test::desktop().home() + "/shell.sh";
    ASSERT_TRUE(writeFile(script, "#!/bin/sh\ncd '" + work + "' && touch .ready && exec sh -i\n"));
    fs::permissions(script, fs::perms::owner_all);

    road_->freshUser(kLocal);
    const pid_t terminal = e2e::launch({"/usr/bin/lxterminal", "-e", script}, road_->environment({"NO_AT_BRIDGE=1"}));
    const std::unique_ptr<const pid_t, void (*)(const pid_t*)> stopTerminal(&terminal,
                                                                             [](const pid_t* pid) { stopGroup(*pid); });
    unsigned long window = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& w : windowsOf(test::desktop().display(), terminal))
                if (w.viewable) window = w.id;
            return window != 0 && fs::exists(work + "/.ready");
        },
        20, 0.05))
        << "the terminal did not start its shell";
    ASSERT_TRUE(road_->startProgram()) << road_->programLog();
    keys_->focus(window);
    Display* d = keys_->display();
    EXPECT_TRUE(waitUntil(
        [&] {
            Window focused = 0;
            int revert = 0;
            XGetInputFocus(d, &focused, &revert);
            return focused == window;
        },
        5));

    willSay("touch PWNED\nls\r\n");
    dictate();
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 10));
    waitUntil([] { return false; }, 1.5);
    EXPECT_FALSE(fs::exists(work + "/PWNED")) << "the line break ran the command";

    // It is all on the line typed so far: the user's own Return runs it as one command.
    keys_->tap("Return");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(work + "/PWNED") && fs::exists(work + "/ls"); }, 5))
        << "the text did not land as one line";
}

// A NUL in a transcript cuts nothing off: the whole text lands and is stored.
TEST_F(HostileIT, ANulInATranscriptCutsNothingOff) {
    launch(kLocal);
    willSay(std::string("before the nul\0 and after it", 28));
    dictate();
    EXPECT_TRUE(waitForText("before the nul and after it", 10)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_TRUE(waitUntil([&] { return historyCount() == 1; }, 5));
    EXPECT_EQ(road_->sql("SELECT text FROM history").value_or(""), "before the nul and after it\n");
}

// Another user's server on the fixed port is never sent the audio, and its answer never pasted.
TEST_F(HostileIT, AnotherUsersServerOnTheFixedPortIsOffline) {
    server_.reset();
    const std::string squatter =
        "import http.server\n"
        "class H(http.server.BaseHTTPRequestHandler):\n"
        "    def reply(s):\n"
        "        n = int(s.headers.get('Content-Length') or 0)\n"
        "        s.rfile.read(n)\n"
        "        s.send_response(200)\n"
        "        s.send_header('Content-Type', 'application/json')\n"
        "        s.end_headers()\n"
        "        s.wfile.write(b'{\"text\":\"from the squatter\"}')\n"
        "    do_GET = reply\n"
        "    do_POST = reply\n"
        "http.server.HTTPServer(('127.0.0.1', 8756), H).serve_forever()\n";
    const pid_t other = e2e::launch(
        {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/python3", "-c", squatter}, road_->environment());
    const std::unique_ptr<const pid_t, void (*)(const pid_t*)> stopOther(&other, [](const pid_t* pid) { stopGroup(*pid); });
    ASSERT_TRUE(waitUntil([] { return answers200(8756, "/health"); }, 10)) << "the other user's server did not start";

    launch(kLocal);
    holdKey();
    EXPECT_TRUE(road_->titles().waitFor("Whisper server offline", 5));
    waitUntil([] { return false; }, 1.0);
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_NE(road_->programLog().find("held by a process of user"), std::string::npos) << road_->programLog();
}

// A 2 MB file system under the data and settings folders, filled: the dictations are pasted, the
// rows wait outside it over a quit, and the next start with space again takes each in once.
TEST_F(HostileIT, NothingDictatedIsLostOnAFullDisk) {
    // A mount namespace of this test program's own, so the small file systems go with it.
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << "needs root";
    ASSERT_EQ(::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    road_->freshUser(kLocal);
    for (const std::string& dir : {road_->dataDir(), road_->configDir()}) {
        fs::create_directories(dir);
        ASSERT_EQ(::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=2m,mode=0700"), 0) << dir;
    }
    ASSERT_TRUE(writeFile(road_->configDir() + "/defaults.json", kLocal));
    struct Unmount {
        Road& road;
        ~Unmount() {
            for (const std::string& dir : {road.dataDir(), road.configDir()}) ::umount2(dir.c_str(), MNT_DETACH);
        }
    } unmount{*road_};
    launchAsIs();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(road_->databasePath()); }, 5));

    // Nothing more fits.
    for (const std::string& dir : {road_->dataDir(), road_->configDir()}) {
        std::ofstream filler(dir + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    const std::vector<std::string> said = {"first on a full disk", "second on a full disk", "third on a full disk"};
    std::string typed;
    for (const auto& text : said) {
        willSay(text);
        road_->titles().clear();
        dictate();
        typed += text;
        EXPECT_TRUE(waitForText(typed, 10)) << "target holds: \"" << road_->targetText() << "\"";
        EXPECT_TRUE(road_->titles().waitFor("Inserted — history not saved", 5)) << "for \"" << text << "\"";
        waitUntil([] { return false; }, 0.5);
    }
    EXPECT_EQ(road_->quitProgram(), 0);

    for (const std::string& dir : {road_->dataDir(), road_->configDir()}) fs::remove(dir + "/filler");
    launchAsIs();
    EXPECT_TRUE(waitUntil([&] { return historyCount() == 3; }, 10)) << historyRows();
    ASSERT_EQ(road_->quitProgram(), 0);
    launchAsIs();
    waitUntil([] { return false; }, 1.0);
    EXPECT_EQ(road_->sql("SELECT text FROM history ORDER BY id").value_or(""),
              said[0] + "\n" + said[1] + "\n" + said[2] + "\n");
}

// A store with one damaged page among thousands of rows: set aside, its readable rows in History.
TEST_F(HostileIT, ADamagedStoreIsSetAsideAndItsReadableRowsRecovered) {
    launch(kLocal);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(road_->databasePath()); }, 5));
    ASSERT_EQ(road_->quitProgram(), 0);
    ASSERT_TRUE(road_->sql("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < 2999) "
                           "INSERT INTO history(ts,text,words,seconds) "
                           "SELECT i, 'row ' || i || printf('%.60c', 'x'), 2, 1 FROM n; PRAGMA journal_mode=WAL;",
                           false));
    std::string bytes = readFile(road_->databasePath());
    const std::size_t pages = bytes.size() / 4096;
    ASSERT_GT(pages, 40u);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pages / 2 * 4096), 4096, '\xA5');
    ASSERT_TRUE(writeFile(road_->databasePath(), bytes));

    launchAsIs();
    EXPECT_TRUE(waitUntil([&] { return fs::exists(road_->databasePath() + ".corrupt"); }, 10));
    EXPECT_TRUE(waitUntil([&] { return historyCount() > 2900; }, 10)) << historyCount();
    EXPECT_LT(historyCount(), 3000);
    EXPECT_EQ(readFile(road_->databasePath() + ".corrupt"), bytes);
    EXPECT_NE(road_->programLog().find("entries were recovered"), std::string::npos);
}

}  // namespace
}  // namespace e2e

// The fixed port is the same for every program on the machine: where it can, this test program
// runs in a network of its own (with its own loopback), so that nothing else on the machine holds
// the port meanwhile, nor sees what the test's servers do with it.
int main(int argc, char** argv) {
    if (::unshare(CLONE_NEWNET) == 0) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq loopback{};
        std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
        if (fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &loopback) == 0) {
            loopback.ifr_flags |= IFF_UP;
            ::ioctl(fd, SIOCSIFFLAGS, &loopback);
        }
        if (fd >= 0) ::close(fd);
    }
    return test::runDesktopTests(argc, argv, {true, true, true});
}
