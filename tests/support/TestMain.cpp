// The main of every program test: a scratch HOME (so nothing touches the real user's files),
// a Qt application (offscreen unless a display is given), the fake clock as the main queue,
// memory-backed settings and secrets.
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char tmpl[] = "/tmp/tovrin-test-XXXXXX";
    const std::string home = mkdtemp(tmpl) ? tmpl : "/tmp";
    for (const char* sub : {"/.config", "/.local/share", "/.local/state", "/.cache"})
        std::filesystem::create_directories(home + sub);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);  // as in the program: closing a window never quits
        ::testing::AddGlobalTestEnvironment(new test::TestEnvironment);
        status = RUN_ALL_TESTS();
    }
    std::error_code ec;
    if (home != "/tmp") std::filesystem::remove_all(home, ec);
    return status;
}
