#include "platform/PortListeners.h"

#include "platform/Log.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/types.h>
#include <unistd.h>

namespace platform::PortListeners {

namespace {

bool parsePid(const std::string& text, int& pid) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, pid);
    return ec == std::errc() && ptr == end && pid > 0;
}

// True while the process exists and is not a zombie (a zombie has already released its sockets).
bool isAlive(int pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return true;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace

std::vector<int> parseLsofListeners(const std::string& lsofOutput, int port, int ownPid) {
    const std::string wanted = ":" + std::to_string(port);
    std::vector<int> pids;
    int current = 0;
    std::istringstream in(lsofOutput);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const char field = line[0];
        const std::string value = line.substr(1);
        if (field == 'p') {
            if (!parsePid(value, current)) current = 0;
        } else if (field == 'n') {
            // A connection reads "local->remote"; a listener names only its own address, which
            // ends in ":<port>" whatever the address ("127.0.0.1", "*", "[::1]", ...).
            const bool listener = value.find("->") == std::string::npos && value.size() > wanted.size() &&
                                  value.compare(value.size() - wanted.size(), wanted.size(), wanted) == 0;
            if (current > 0 && current != ownPid && listener &&
                std::find(pids.begin(), pids.end(), current) == pids.end())
                pids.push_back(current);
        }
    }
    return pids;
}

std::vector<int> listeners(int port) {
    QProcess lsof;
    lsof.setProgram("lsof");
    lsof.setArguments({"-nP", "-a", QString("-iTCP:%1").arg(port), "-sTCP:LISTEN", "-Fpn"});
    lsof.setStandardErrorFile(QProcess::nullDevice());
    lsof.setStandardInputFile(QProcess::nullDevice());
    lsof.start(QIODevice::ReadOnly);
    if (!lsof.waitForStarted(5000)) {
        qCWarning(logPlatform, "cannot start lsof: %s", qUtf8Printable(lsof.errorString()));
        return {};
    }
    if (!lsof.waitForFinished(10000)) {
        qCWarning(logPlatform, "lsof did not finish; the listeners on port %d are left alone", port);
        lsof.kill();
        lsof.waitForFinished(1000);
        return {};
    }
    const QByteArray out = lsof.readAllStandardOutput();
    return parseLsofListeners(out.toStdString(), port, static_cast<int>(::getpid()));
}

void killListeners(int port) {
    const std::vector<int> pids = listeners(port);
    for (int pid : pids) ::kill(pid, SIGKILL);
    // Give the kernel a moment to close their sockets so the port is free for the next server.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int pid : pids) {
        while (isAlive(pid) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<unsigned> parseListenerUids(const std::string& procNetTcp, int port) {
    // "  sl  local_address rem_address   st tx_queue:rx_queue tr:tm->when retrnsmt   uid ..."
    // with the local address as hexadecimal "ADDRESS:PORT" and the state 0A for a listener.
    std::vector<unsigned> uids;
    std::istringstream in(procNetTcp);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
        if (state != "0A") continue;
        const auto colon = local.rfind(':');
        if (colon == std::string::npos) continue;
        unsigned long localPort = 0, owner = 0;
        const std::string portText = local.substr(colon + 1);
        auto [p, pe] = std::from_chars(portText.data(), portText.data() + portText.size(), localPort, 16);
        auto [u, ue] = std::from_chars(uid.data(), uid.data() + uid.size(), owner, 10);
        if (pe != std::errc() || p != portText.data() + portText.size() || ue != std::errc() ||
            u != uid.data() + uid.size() || localPort != static_cast<unsigned long>(port))
            continue;
        uids.push_back(static_cast<unsigned>(owner));
    }
    return uids;
}

std::vector<unsigned> listenerUids(int port) {
    std::vector<unsigned> uids;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        if (!in) continue;
        std::stringstream text;
        text << in.rdbuf();
        const auto found = parseListenerUids(text.str(), port);
        uids.insert(uids.end(), found.begin(), found.end());
    }
    return uids;
}

bool onlyOurs(int port, unsigned* foreignUid) {
    const auto ours = static_cast<unsigned>(::geteuid());
    for (unsigned uid : listenerUids(port)) {
        if (uid == ours) continue;
        if (foreignUid) *foreignUid = uid;
        return false;
    }
    return true;
}

}  // namespace platform::PortListeners
