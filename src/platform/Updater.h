// Software updates: looks for a newer version in the update feed when asked.
#pragma once

#include "platform/ServiceSlot.h"

namespace platform {

class Updater {
public:
    virtual ~Updater() = default;
    // The "Check for Updates…" action: checks the feed and tells the user what it found.
    virtual void checkForUpdates() = 0;
};

}  // namespace platform
