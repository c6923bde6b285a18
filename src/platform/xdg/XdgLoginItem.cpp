#include "platform/xdg/XdgLoginItem.h"

#include "platform/Paths.h"

#include <filesystem>
#include <fstream>

namespace platform {

std::string XdgLoginItem::entryPath() { return Paths::config() + "/autostart/tovrin.desktop"; }

bool XdgLoginItem::registerItem() {
    const std::string path = entryPath();
    if (!Paths::makeDirectories(std::filesystem::path(path).parent_path().string())) return false;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << "[Desktop Entry]\nType=Application\nName=Tovrin\nExec=\"" << Paths::launcher()
            << "\"\nIcon=tovrin\nX-GNOME-Autostart-enabled=true\nNoDisplay=false\n";
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    return !ec;
}

bool XdgLoginItem::unregisterItem() {
    std::error_code ec;
    std::filesystem::remove(entryPath(), ec);
    return !ec && !isEnabled();
}

bool XdgLoginItem::isEnabled() const {
    std::error_code ec;
    return std::filesystem::is_regular_file(entryPath(), ec);
}

}  // namespace platform
