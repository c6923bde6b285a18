// The UI stays on XWayland: the real program started by a Wayland compositor (headless sway with
// its XWayland, from the shared wlstack tool) while Qt's Wayland plugin is installed runs on the
// X11 plugin, as its loaded libraries show; the user's own QT_QPA_PLATFORM still wins; and a key
// command sent from the compositor's side reaches it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string wlstack() {
    if (const char* given = std::getenv("TOVRIN_WLSTACK"); given && *given) return given;
    for (const char* up : {"/../shared", "/../../shared"}) {
        const std::string path = std::string(TOVRIN_SOURCE_DIR) + up + "/tools/wayland/wlstack.sh";
        if (fs::exists(path)) return fs::weakly_canonical(path).string();
    }
    return {};
}

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs a bash script; its standard output.
std::string bash(const std::string& script) {
    std::string out;
    FILE* p = popen(("bash -c '" + script + "' 2>&1").c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    pclose(p);
    return out;
}

class XWaylandIT : public ::testing::Test {
protected:
    void SetUp() override {
        tool = wlstack();
        if (tool.empty()) GTEST_SKIP() << "the wlstack tool is not there";
        if (!fs::exists("/usr/bin/sway") || !fs::exists("/usr/bin/Xwayland"))
            GTEST_SKIP() << "sway and XWayland are not installed";
        if (!fs::exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"))
            GTEST_SKIP() << "qt6-wayland is not installed";
        // The compositor passes its environment on to what it starts: none of the test's own.
        unsetenv("QT_QPA_PLATFORM");
        dir = (fs::temp_directory_path() / ("tovrin-xwayland-" + std::to_string(getpid()))).string();
        const std::string up = bash("timeout 90 " + tool + " up sway " + dir);
        ASSERT_NE(up.find("up: sway"), std::string::npos) << up;
    }
    void TearDown() override {
        if (!dir.empty() && fs::exists(dir + "/stack.id")) bash("timeout 30 " + tool + " down " + dir);
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
    // Starts the program the way the compositor starts programs (sway's environment: DISPLAY of
    // its XWayland); `env` is put before it. The PID of the application, 0 when it did not start.
    int startProgram(const std::string& env) {
        const std::string lock = dir + "/home/.local/share/Wendaro/instance.lock";
        std::error_code ec;
        fs::remove(lock, ec);  // an earlier copy's
        bash(". " + dir + "/env; $AS swaymsg exec \"" + env + " " + exe + "\" >/dev/null");
        for (int i = 0; i < 200 && read(lock).find('\n') == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string id = read(dir + "/stack.id");
        return std::atoi(bash("for f in /proc/[0-9]*; do [ \"$(readlink $f/exe)\" = \"" + exe +
                                     "-app\" ] && grep -qaz \"WLSTACK_ID=" + id.substr(0, id.find('\n')) +
                                     "\" $f/environ && echo ${f#/proc/}; done").c_str());
    }
    std::string plugins(int pid) {
        return bash("grep -oE \"libq(xcb|wayland[a-z-]*)[.]so\" /proc/" + std::to_string(pid) + "/maps | sort -u");
    }
    void stopProgram(int pid) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && fs::exists("/proc/" + std::to_string(pid)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::string tool, dir;
    const std::string exe = std::string(TOVRIN_BUNDLE_DIR) + "/bin/tovrin";
};

TEST_F(XWaylandIT, TheProgramRunsOnXWaylandUnlessTheUserChoseOtherwise) {
    const int pid = startProgram("");
    ASSERT_GT(pid, 0) << read(dir + "/logs/compositor.log");
    EXPECT_EQ(plugins(pid), "libqxcb.so\n");

    // The compositor's key binding runs the command as the user: it reaches the running program.
    const std::string sent = bash(". " + dir + "/env; $AS env XDG_DATA_HOME=$XDG_DATA_HOME " + exe +
                                  " --cancel; echo status=$?");
    EXPECT_NE(sent.find("status=0"), std::string::npos) << sent;
    stopProgram(pid);

    const int chosen = startProgram("env QT_QPA_PLATFORM=wayland");
    ASSERT_GT(chosen, 0);
    EXPECT_NE(plugins(chosen).find("libqwayland"), std::string::npos);
    EXPECT_EQ(plugins(chosen).find("libqxcb"), std::string::npos);
    stopProgram(chosen);
}

}  // namespace
