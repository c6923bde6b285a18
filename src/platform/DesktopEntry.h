// The program's desktop entry ($XDG_DATA_HOME/applications/tovrin.desktop): what launchers and
// file managers show for it, and what KDE Plasma reads to grant it fake input: KWin offers
// org_kde_kwin_fake_input only to an executable that an entry with
// X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input names in Exec= by its real path.
#pragma once

#include <string>

namespace platform {

class DesktopEntry {
public:
    DesktopEntry() = delete;

    // The entry file of the current user.
    static std::string path();
    enum class Update { unchanged, written, failed };
    // Brings the entry up to date with the running executable (written at start-up, before the
    // session is probed): creates it when the user has none, and rewrites only what is stale.
    static Update ensure();
    // Points the entry's Icon= at `imagePath`, as ensure() leaves it otherwise; every other line is
    // kept. False when the file could not be written.
    static bool setIcon(const std::string& imagePath);

    // `content` (an entry's text, or empty) with its main group brought up to date: Exec= names
    // `executable` (kept as it is when it names the same file, its arguments kept in any case),
    // X-KDE-Wayland-Interfaces lists org_kde_kwin_fake_input, and Icon= is `icon` when one is
    // given. The other lines and groups are kept; a text without the main group gets a whole entry.
    static std::string updated(const std::string& content, const std::string& executable,
                               const std::string& icon = {});
};

}  // namespace platform
