// One program per user, whatever the runtime folder: the real program started twice in one home
// with two runtime folders keeps one copy running, and the key commands reach that copy from
// either folder, or say that nothing runs.
#include "platform/InstanceLock.h"
#include "support/DesktopTestMain.h"
#include "support/TaskWait.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

class SingleInstanceIT : public ::testing::Test {
protected:
    static std::string runtimeFolder(const std::string& name) {
        const std::string dir = test::desktop().home() + "/" + name;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0700);
        return dir;
    }
    // Runs `tovrin args…` with its own runtime folder; the exit status, and what it wrote.
    static int run(const std::string& runtime, const std::string& args, std::string* output = nullptr) {
        return test::desktop().run(
            {"sh", "-c", "XDG_RUNTIME_DIR='" + runtime + "' exec '" + exe + "' " + args + " 2>&1"}, output, 20);
    }
    static inline const std::string exe = std::string(TOVRIN_BUNDLE_DIR) + "/bin/tovrin";
};

TEST_F(SingleInstanceIT, TwoRuntimeFoldersOneProgram) {
    ASSERT_TRUE(fs::exists(exe)) << exe;
    auto& desk = test::desktop();
    const std::string a = runtimeFolder("runtime-a"), b = runtimeFolder("runtime-b");
    const std::string lock = desk.home() + "/.local/share/Wendaro/instance.lock";

    std::string out;
    EXPECT_EQ(run(b, "--toggle", &out), 1);
    EXPECT_NE(out.find("Tovrin is not running."), std::string::npos) << out;

    const pid_t first = desk.spawn({"sh", "-c", "XDG_RUNTIME_DIR='" + a + "' exec '" + exe + "'"});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(test::pumpUntil([&] { return !platform::InstanceLock::publishedSocket(lock).empty(); }, 20));
    EXPECT_EQ(platform::InstanceLock::publishedSocket(lock).rfind(a + "/", 0), 0u);

    // The second copy, with a runtime folder of its own, hands over to the first and ends.
    EXPECT_EQ(run(b, ""), 0);
    test::pumpFor(0.5);
    EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first copy ended";

    // The key commands reach it from anywhere, and return at once. A tap with no sound server to
    // record from: the widget says so, under its title.
    EXPECT_EQ(run(b, "--toggle"), 0);
    EXPECT_TRUE(test::pumpUntil(
        [&] {
            std::string tree;
            desk.run({"xwininfo", "-root", "-tree"}, &tree, 5);
            return tree.find("\"Mic unavailable\"") != std::string::npos;
        },
        10));
    EXPECT_EQ(run(b, "--ptt-down"), 0);
    EXPECT_EQ(run(a, "--ptt-up"), 0);
    EXPECT_EQ(run(b, "--cancel"), 0);
    EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0);

    kill(first, SIGTERM);
    bool ended = false;
    ASSERT_TRUE(test::pumpUntil([&] { return ended = ended || waitpid(first, nullptr, WNOHANG) == first; }, 10));
    EXPECT_EQ(run(a, "--ptt-down", &out), 1);
    EXPECT_NE(out.find("Tovrin is not running."), std::string::npos) << out;
}

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = true}); }
