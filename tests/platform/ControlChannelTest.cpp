// The key commands' channel: the lines and options understood, the instance lock that finds the
// running copy, and the sending side delivering one line or saying that nothing runs.
#include "platform/ControlClient.h"
#include "platform/ControlLine.h"
#include "platform/InstanceLock.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>

#include <memory>
#include <string_view>

#include <sys/stat.h>

namespace {

using platform::ControlClient;
using platform::ControlCommand;
using platform::ControlLine;
using platform::InstanceLock;

TEST(ControlChannelTest, LinesAndOptions) {
    EXPECT_EQ(ControlLine::parse("ptt-down\n"), ControlCommand::pttDown);
    EXPECT_EQ(ControlLine::parse(" ptt-up\r\n"), ControlCommand::pttUp);
    EXPECT_EQ(ControlLine::parse("toggle"), ControlCommand::toggle);
    EXPECT_EQ(ControlLine::parse("cancel\n"), ControlCommand::cancel);
    EXPECT_EQ(ControlLine::parse("reopen\n"), ControlCommand::reopen);
    using namespace std::string_view_literals;
    for (std::string_view malformed :
         {""sv, "\n"sv, "PTT-DOWN\n"sv, "ptt-down now\n"sv, "ptt\n"sv, "ptt-up\0x\n"sv, "--ptt-down\n"sv})
        EXPECT_EQ(ControlLine::parse(malformed), std::nullopt) << malformed;

    EXPECT_EQ(ControlLine::fromOption("--ptt-down"), ControlCommand::pttDown);
    EXPECT_EQ(ControlLine::fromOption("--toggle"), ControlCommand::toggle);
    for (const char* other : {"--reopen", "-ptt-down", "ptt-down", "--ptt-down=1", "--ptt-down ", "--", "-platform"})
        EXPECT_EQ(ControlLine::fromOption(other), std::nullopt) << other;
}

TEST(ControlChannelTest, OneCopyHoldsTheLockAndTellsTheOthersWhereItListens) {
    test::TempFolder folder;
    const std::string path = folder.path() + "/data/Wendaro/instance.lock";
    auto first = std::make_unique<InstanceLock>(path);
    InstanceLock second(path);
    ASSERT_TRUE(first->acquire());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(second.error().empty());  // held elsewhere, not broken
    EXPECT_EQ(InstanceLock::publishedSocket(path), "");
    ASSERT_TRUE(first->publish("/run/user/1000/tovrin-1000.sock"));
    EXPECT_EQ(InstanceLock::publishedSocket(path), "/run/user/1000/tovrin-1000.sock");
    EXPECT_FALSE(second.publish("/elsewhere.sock"));

    first.reset();  // the holder ends: the next copy gets the lock
    EXPECT_TRUE(second.acquire());
}

TEST(ControlChannelTest, TheCommandReachesTheRunningCopyOrSaysNothingRuns) {
    test::TempFolder folder;
    const std::string lockPath = folder.path() + "/instance.lock";
    // Nothing ever ran.
    EXPECT_EQ(ControlClient::run(ControlCommand::pttDown, lockPath), 1);

    InstanceLock lock(lockPath);
    ASSERT_TRUE(lock.acquire());
    const QString socketPath = QString::fromStdString(folder.path() + "/tovrin.sock");
    ASSERT_TRUE(lock.publish(socketPath.toStdString()));
    // The copy that wrote it has gone: its socket answers no more.
    EXPECT_EQ(ControlClient::run(ControlCommand::pttDown, lockPath), 1);

    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(server.listen(socketPath));
    EXPECT_EQ(ControlClient::run(ControlCommand::pttDown, lockPath), 0);
    EXPECT_EQ(ControlClient::run(ControlCommand::cancel, lockPath), 0);
    QByteArray received;
    std::vector<QLocalSocket*> peers;
    ASSERT_TRUE(test::pumpUntil(
        [&] {
            while (QLocalSocket* p = server.nextPendingConnection()) peers.push_back(p);
            for (QLocalSocket* p : peers) received += p->readAll();
            return received.size() >= 16;
        },
        5));
    EXPECT_EQ(received, "ptt-down\ncancel\n");
}

}  // namespace
