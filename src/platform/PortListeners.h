// Finds and ends processes left listening on one of our ports (a server from an earlier run that
// did not go away, or anything else holding the port). Uses the "lsof" tool found on PATH.
#pragma once

#include <string>
#include <vector>

namespace platform::PortListeners {

// Ids of the processes with a TCP socket listening on the port on any address (127.0.0.1, *,
// [::1], ...): each of them keeps our server from binding. Read from the field output of lsof
// ("p<pid>" and "n<address>" lines). Processes that only hold a connection to the port, and our
// own process, are left out.
std::vector<int> parseLsofListeners(const std::string& lsofOutput, int port, int ownPid);

// Runs lsof (blocking) and returns the listeners as above; empty when lsof cannot be run.
std::vector<int> listeners(int port);

// Sends SIGKILL to every listener on the port and waits briefly for each to go.
// Never fails: every error is swallowed.
void killListeners(int port);

// The owners (user ids) of the TCP sockets listening on the port, on any address, read from the
// text of /proc/net/tcp or /proc/net/tcp6.
std::vector<unsigned> parseListenerUids(const std::string& procNetTcp, int port);

// The same from this machine's /proc/net/tcp and /proc/net/tcp6.
std::vector<unsigned> listenerUids(int port);

// Whether whatever listens on the port is ours: no listener at all, or only listeners of this
// process's user. Another user's server on a port we would talk to could read what we send and
// answer what it likes; `foreignUid` is set to its user id.
bool onlyOurs(int port, unsigned* foreignUid = nullptr);

}  // namespace platform::PortListeners
