// Whether this program's login session is the active, unlocked one, as logind tells it on the
// system bus (org.freedesktop.login1). Read without blocking; until logind has answered, and where
// there is no logind at all, the session counts as active.
#pragma once

#include <memory>
#include <string>

namespace platform {

class LogindSession {
public:
    LogindSession();
    ~LogindSession();
    LogindSession(const LogindSession&) = delete;
    LogindSession& operator=(const LogindSession&) = delete;

    // Finds our session (XDG_SESSION_ID, else the one holding this process) and follows it.
    void start();
    bool active() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
