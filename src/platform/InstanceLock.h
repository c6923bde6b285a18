// One program per user: an exclusive lock (flock) on a file in the data folder, held for the
// program's life. The data folder is the same for every copy started by the user, whatever their
// runtime folder, so the lock also tells copies apart that would not find each other's socket;
// the holder writes its socket's path into the file so that the others can reach it.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
public:
    // `path`: the lock file (created 0600, with its folder, when absent).
    explicit InstanceLock(std::string path = defaultPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting: true when this process holds it now. False when another
    // process holds it, or when the file cannot be opened (error() then says why).
    bool acquire();
    bool held() const { return held_; }
    const std::string& error() const { return error_; }

    // Writes where the holder listens (only while the lock is held).
    bool publish(const std::string& socketPath);
    // The socket path the holder wrote, "" when there is none.
    static std::string publishedSocket(const std::string& path = defaultPath());

    static std::string defaultPath();

private:
    std::string path_;
    int fd_ = -1;
    bool held_ = false;
    std::string error_;
};

}  // namespace platform
