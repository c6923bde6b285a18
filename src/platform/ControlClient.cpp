#include "platform/ControlClient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

int ControlClient::send(const std::string& socketPath, const std::string& line) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return ENOENT;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    // The running program reads its socket on its event loop: never wait on it for long.
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int result = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result = errno;
    } else {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
            result = EACCES;
        } else {
            const std::string data = line + "\n";
            if (::send(fd, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
                result = errno ? errno : EIO;
        }
    }
    ::close(fd);
    return result;
}

int ControlClient::run(ControlCommand command, const std::string& lockPath) {
    const std::string socketPath = InstanceLock::publishedSocket(lockPath);
    const int error = socketPath.empty() ? ENOENT : send(socketPath, ControlLine::text(command));
    if (error == 0) return 0;
    if (error == ENOENT || error == ECONNREFUSED)
        std::fprintf(stderr, "Tovrin is not running.\n");
    else if (error == EACCES)
        std::fprintf(stderr, "Tovrin: %s belongs to another user; nothing was sent.\n", socketPath.c_str());
    else
        std::fprintf(stderr, "Tovrin is not reachable: %s\n", std::strerror(error));
    return 1;
}

}  // namespace platform
