// The desktop entry written at start-up: KWin grants fake input only to the executable that an
// entry naming the interface lists in Exec= by its real path, so a moved program rewrites it; an
// entry that is already right is left alone (KDE rebuilds its menu cache on every change).
#include "platform/DesktopEntry.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using platform::DesktopEntry;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(DesktopEntry, AMovedProgramIsNamedAgainAndFakeInputAskedForWithTheUsersOtherLinesKept) {
    const std::string old = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Tovrin\n"
                            "Exec=/old/place/bin/tovrin --hidden\n"
                            "Icon=/old/icon.png\n"
                            "X-KDE-Wayland-Interfaces=org_kde_plasma_window_management\n"
                            "X-Mine=kept\n"
                            "\n"
                            "[Desktop Action New]\n"
                            "Exec=/old/place/bin/tovrin --new\n";
    EXPECT_EQ(DesktopEntry::updated(old, "/opt/Tovrin Apps/bin/tovrin-app"),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Tovrin\n"
              "Exec=\"/opt/Tovrin Apps/bin/tovrin-app\" --hidden\n"
              "Icon=/old/icon.png\n"
              "X-KDE-Wayland-Interfaces=org_kde_plasma_window_management,org_kde_kwin_fake_input\n"
              "X-Mine=kept\n"
              "\n"
              "[Desktop Action New]\n"
              "Exec=/old/place/bin/tovrin --new\n");

    // A new user gets the whole entry.
    const std::string fresh = DesktopEntry::updated("", "/opt/tovrin/bin/tovrin-app", "/opt/tovrin/icon.png");
    EXPECT_NE(fresh.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(fresh.find("\nExec=/opt/tovrin/bin/tovrin-app\n"), std::string::npos) << fresh;
    EXPECT_NE(fresh.find("\nIcon=/opt/tovrin/icon.png\n"), std::string::npos) << fresh;
    EXPECT_NE(fresh.find("\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n"), std::string::npos) << fresh;
}

TEST(DesktopEntry, AnEntryNamingTheSameFileIsLeftAloneAndAStartWritesOnlyWhenSomethingChanged) {
    test::TempFolder folder;
    // A program in a folder with a space, named in the entry through a link to that folder.
    const std::string program = folder.write("my apps/tovrin-app", "#!/bin/sh\n");
    std::filesystem::create_directory_symlink(folder.path() + "/my apps", folder.path() + "/link");
    const std::string entry = "[Desktop Entry]\nName=Tovrin\nExec=" + folder.path() +
                              "/link/tovrin-app\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    EXPECT_EQ(DesktopEntry::updated(entry, program), entry);
    // Quoted by the format's rules (a backslash doubled once more in the value), and read back.
    const std::string quoted = DesktopEntry::updated("[Desktop Entry]\nExec=/elsewhere\n", program + "$");
    EXPECT_NE(quoted.find("Exec=\"" + program + "\\\\$\"\n"), std::string::npos) << quoted;
    EXPECT_EQ(DesktopEntry::updated(quoted, program + "$"), quoted);

    setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    EXPECT_EQ(DesktopEntry::ensure(), DesktopEntry::Update::written);
    const std::string written = readFile(DesktopEntry::path());
    EXPECT_NE(written.find("X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input"), std::string::npos);
    EXPECT_EQ(DesktopEntry::ensure(), DesktopEntry::Update::unchanged);
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
