// Desktop notifications through org.freedesktop.Notifications on the session bus, sent without
// waiting; when the bus or the service is missing, the message is written to standard error.
#pragma once

#include "platform/DesktopNotifier.h"

namespace platform {

class DBusDesktopNotifier : public DesktopNotifier {
public:
    void notify(const std::string& title, const std::string& body) override;
};

}  // namespace platform
