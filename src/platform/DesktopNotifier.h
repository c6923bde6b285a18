// A short message to the user outside our windows: the desktop's notification where it has one.
#pragma once

#include "platform/ServiceSlot.h"

#include <string>

namespace platform {

class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // Shows `body` under `title`; returns at once, and never fails silently: without a
    // notification service the text goes to standard error.
    virtual void notify(const std::string& title, const std::string& body) = 0;

    static DesktopNotifier& shared() { return ServiceSlot<DesktopNotifier>::get(); }
    static void setShared(DesktopNotifier* p) { ServiceSlot<DesktopNotifier>::set(p); }
};

}  // namespace platform
