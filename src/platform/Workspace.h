// Opening things with the desktop: URLs (https:, mailto:), the folder of a file.
#pragma once

#include "platform/ServiceSlot.h"

#include <string>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // False when the URL does not parse or nothing could open it.
    virtual bool openUrl(const std::string& url) = 0;
    virtual bool revealFile(const std::string& path) = 0;

    static Workspace& shared() { return ServiceSlot<Workspace>::get(); }
    static void setShared(Workspace* p) { ServiceSlot<Workspace>::set(p); }
};

}  // namespace platform
