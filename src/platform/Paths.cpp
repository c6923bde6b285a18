#include "platform/Paths.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
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

std::string launcher() {
    const fs::path exe = bundleExecutable();
    std::error_code ec;
    const fs::path command = exe.parent_path() / "tovrin";
    if (!exe.empty() && exe.filename() == applicationExecutableName && fs::exists(command, ec)) return command.string();
    return exe.string();
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

namespace {

// Folders we create get 0700; the parents that exist already are left as they are.
void createPrivateParents(const fs::path& dir) {
    if (dir.empty()) return;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return;
    createPrivateParents(dir.parent_path());
    ::mkdir(dir.c_str(), 0700);
}

bool syncFolder(const fs::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool writeAll(int fd, const std::string& content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// rename(2) that fails with EEXIST rather than replace `to`.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

void tighten(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
    const mode_t mode = st.st_mode & 07777;
    if (mode & 077) ::chmod(path.c_str(), mode & ~static_cast<mode_t>(077));
}

void matchMode(const std::string& path, const std::string& like) {
    struct stat target, model;
    if (::lstat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode) || ::stat(like.c_str(), &model) != 0) return;
    const mode_t mode = model.st_mode & 0700;
    if ((target.st_mode & 07777) != mode) ::chmod(path.c_str(), mode);
}

bool makePrivateFolder(const std::string& path) {
    const fs::path dir(path);
    createPrivateParents(dir);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return false;
    tighten(path);
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.is_regular_file(ec) && !entry.is_symlink(ec)) tighten(entry.path().string());
    return true;
}

bool createPrivateFile(const std::string& path, bool truncate) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : 0), 0600);
    tighten(path);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool writePrivateFile(const std::string& file, const std::string& content) {
    // A file that is a link (to a folder of dotfiles, say) stays one: its target is replaced.
    std::string path = file;
    std::error_code ec;
    if (fs::is_symlink(path, ec))
        if (const fs::path target = fs::canonical(path, ec); !ec) path = target.string();
    const std::string temp = path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);  // a leftover temporary file of a killed run may have had any mode
    const bool written = writeAll(fd, content) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return syncFolder(fs::path(path).parent_path());
}

std::string spareFolder(bool create) {
    std::vector<std::string> candidates;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        candidates.push_back(std::string(runtime) + "/Tovrin");
    candidates.push_back(envOr("TMPDIR", "/tmp") + "/Tovrin-" + std::to_string(::geteuid()));
    for (const std::string& dir : candidates) {
        if (create) ::mkdir(dir.c_str(), 0700);
        // In a folder others can write to, a name may have been taken first: use it only when
        // it is a real folder of ours.
        struct stat st;
        if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) continue;
        return dir;
    }
    return {};
}

std::string setAside(const std::string& path, const std::string& suffix) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return {};
    for (int n = 1; n < 100000; ++n) {
        const std::string target = path + suffix + (n == 1 ? std::string() : "." + std::to_string(n));
        if (renameNoReplace(path, target)) {
            syncFolder(fs::path(path).parent_path());
            return target;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

}  // namespace platform::Paths
