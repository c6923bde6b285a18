#include "platform/PortListeners.h"
#include "platform/qt/QtProcess.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

#include <unistd.h>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool alive(long pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

platform::ProcessSpec shell(const std::string& script, std::string output = "") {
    return {"/bin/sh", {"-c", script}, std::move(output)};
}

TEST(QtProcessTest, BothOutputStreamsGoToTheFileAndTheStatusIsReported) {
    test::TempFolder dir;
    const std::string log = dir.write("child.log", "earlier\n");
    platform::QtProcess p;
    std::optional<int> status;
    p.setTerminationHandler([&](int s) { status = s; });
    ASSERT_TRUE(p.launch(shell("echo out; echo err >&2; echo out2; exit 3", log)));
    EXPECT_GT(p.pid(), 0);
    ASSERT_TRUE(test::pumpUntil([&] { return status.has_value(); }, 10));
    EXPECT_EQ(*status, 3);
    EXPECT_EQ(readFile(log), "earlier\nout\nerr\nout2\n");
    EXPECT_EQ(p.pid(), 0);
}

TEST(QtProcessTest, ASignalEndsTheChildWithItsNumber) {
    platform::QtProcess p;
    std::optional<int> status;
    p.setTerminationHandler([&](int s) { status = s; });
    ASSERT_TRUE(p.launch(shell("kill -SEGV $$")));
    ASSERT_TRUE(test::pumpUntil([&] { return status.has_value(); }, 10));
    EXPECT_EQ(*status, SIGSEGV);
}

TEST(QtProcessTest, TerminateWithoutAHandlerReportsNothingAndTheChildGoes) {
    long pid = 0;
    bool called = false;
    {
        platform::QtProcess p;
        p.setTerminationHandler([&](int) { called = true; });
        ASSERT_TRUE(p.launch(shell("exec sleep 30")));
        pid = p.pid();
        p.setTerminationHandler(nullptr);
        p.terminate();
    }  // destroyed while the child may still run: neither blocks nor crashes
    ASSERT_TRUE(test::pumpUntil([&] { return !alive(pid); }, 10));
    test::pumpFor(0.1);
    EXPECT_FALSE(called);
}

TEST(QtProcessTest, AProgramThatCannotStartFailsTheLaunch) {
    platform::QtProcess p;
    EXPECT_FALSE(p.launch({"/nonexistent/whisper-server", {}, ""}));
    EXPECT_EQ(p.pid(), 0);
}

TEST(PortListenersTest, OnlyLoopbackListenersOnThePortOtherThanUs) {
    const std::string lsof =
        "p100\n"
        "n127.0.0.1:8791\n"  // the stale server
        "p200\n"
        "n127.0.0.1:51234->127.0.0.1:8791\n"  // a client of it
        "p300\n"
        "n*:8791\n"  // some other program on every address
        "p400\n"
        "n[::1]:8791\n"
        "p500\n"
        "n127.0.0.1:87910\n"
        "p-7\n"
        "n127.0.0.1:8791\n"
        "pabc\n"
        "n127.0.0.1:8791\n"
        "p0\n"
        "n127.0.0.1:8791\n"
        "p600\r\n"
        "f12\r\n"
        "n127.0.0.1:8791\r\n"
        "n127.0.0.1:8791\n"
        "p999\n"
        "n127.0.0.1:8791\n";  // ourselves
    EXPECT_EQ(platform::PortListeners::parseLsofListeners(lsof, 8791, 999), (std::vector<int>{100, 300, 400, 600}));
    EXPECT_TRUE(platform::PortListeners::parseLsofListeners("", 8791, 1).empty());
    EXPECT_TRUE(platform::PortListeners::parseLsofListeners("n127.0.0.1:8791\n", 8791, 1).empty());
}

// Who listens on a port, as the kernel's socket tables tell it: only listening sockets (state 0A)
// on exactly that port count, on any address, and each gives its owner's user id.
TEST(PortListenersTest, TheOwnersOfTheListenersOnThePortFromTheSocketTables) {
    const std::string tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:2234 00000000:0000 0A 00000000:00000000 00:00000000 00000000    65534        0 4242 1 0\n"
        "   1: 0100007F:2234 0100007F:C350 01 00000000:00000000 00:00000000 00000000     1000        0 4243 1 0\n"
        "   2: 00000000:2234 00000000:0000 0A 00000000:00000000 00:00000000 00000000     1001        0 4244 1 0\n"
        "   3: 0100007F:22340 00000000:0000 0A 00000000:00000000 00:00000000 00000000    7 0 1 1 0\n"
        "   4: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000        0        0 4245 1 0\n"
        "   5: garbage\n";
    EXPECT_EQ(platform::PortListeners::parseListenerUids(tcp, 0x2234), (std::vector<unsigned>{65534, 1001}));
    const std::string tcp6 =
        "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
        "tm->when retrnsmt   uid  timeout inode\n"
        "   0: 00000000000000000000000001000000:2234 00000000000000000000000000000000:0000 0A 00000000:00000000 "
        "00:00000000 00000000  1002        0 99 1 0\n";
    EXPECT_EQ(platform::PortListeners::parseListenerUids(tcp6, 0x2234), std::vector<unsigned>{1002});
    EXPECT_TRUE(platform::PortListeners::parseListenerUids("", 0x2234).empty());
}

}  // namespace
