// The program's desktop entry ($XDG_DATA_HOME/applications/tovrin.desktop): what launchers and
// file managers show for it.
#pragma once

#include <string>

namespace platform {

class DesktopEntry {
public:
    DesktopEntry() = delete;

    // The entry file of the current user.
    static std::string path();
    // Points the entry's Icon= at `imagePath`, creating the entry (name, program, icon) when the
    // user has none; every other line is kept. False when the file could not be written.
    static bool setIcon(const std::string& imagePath);
};

}  // namespace platform
