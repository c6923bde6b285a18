#include "platform/InstanceLock.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::string InstanceLock::defaultPath() { return Paths::applicationSupport() + "/Wendaro/instance.lock"; }

bool InstanceLock::acquire() {
    if (held_) return true;
    if (fd_ < 0) {
        const auto slash = path_.rfind('/');
        if (slash != std::string::npos && slash > 0) Paths::makePrivateFolder(path_.substr(0, slash));
        // Close-on-exec: a child process (the local server) must not inherit, and so keep, the lock.
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = "cannot open " + path_ + ": " + std::strerror(errno);
            return false;
        }
    }
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) error_ = "cannot lock " + path_ + ": " + std::strerror(errno);
        return false;
    }
    held_ = true;
    return true;
}

bool InstanceLock::publish(const std::string& socketPath) {
    if (!held_) return false;
    const std::string line = socketPath + "\n";
    if (::ftruncate(fd_, 0) != 0) return false;
    return ::pwrite(fd_, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

std::string InstanceLock::publishedSocket(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) return {};
    std::string text(buffer, static_cast<std::size_t>(n));
    const auto end = text.find('\n');
    if (end == std::string::npos) return {};  // still being written
    return text.substr(0, end);
}

}  // namespace platform
