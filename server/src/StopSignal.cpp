#include "server/StopSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace server {

namespace {

int g_pipe[2] = {-1, -1};

void writeReason(char reason) {
    // A full pipe already holds a pending reason; dropping this one is fine.
    while (::write(g_pipe[1], &reason, 1) < 0 && errno == EINTR) {
    }
}

extern "C" void onStopSignal(int) {
    const int saved = errno;
    writeReason(StopSignal::Terminated);
    errno = saved;
}

}  // namespace

StopSignal::StopSignal() {
    if (::pipe2(g_pipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the stop pipe");
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

StopSignal& StopSignal::install() {
    static StopSignal instance;
    return instance;
}

void StopSignal::post(Reason reason) { writeReason(reason); }

StopSignal::Reason StopSignal::wait() {
    for (;;) {
        char reason = 0;
        const ssize_t n = ::read(g_pipe[0], &reason, 1);
        if (n == 1) return reason == Failed ? Failed : Terminated;
        if (n < 0 && errno == EINTR) continue;
        return Terminated;
    }
}

}  // namespace server
