#include "platform/Paths.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace platform::Paths {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
std::string g_bundleOverride;

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    if (v && *v && v[0] == '/') return v;
    return fallback;
}

}  // namespace

std::string home() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string applicationSupport() { return envOr("XDG_DATA_HOME", home() + "/.local/share"); }
std::string logs() { return envOr("XDG_STATE_HOME", home() + "/.local/state"); }
std::string config() { return envOr("XDG_CONFIG_HOME", home() + "/.config"); }

std::string bundleExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string bundle() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_bundleOverride.empty()) return g_bundleOverride;
    }
    if (const char* b = std::getenv("TOVRIN_BUNDLE"); b && *b) return b;
    fs::path exe = bundleExecutable();
    return exe.parent_path().parent_path().string();
}

std::string resources() { return bundle() + "/resources"; }

void setBundleOverride(const std::string& path) {
    std::lock_guard lock(g_mutex);
    g_bundleOverride = path;
}

bool makeDirectories(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

}  // namespace platform::Paths
