// Opening URLs and folders with the desktop's own programs.
#pragma once

#include "platform/Workspace.h"

namespace platform {

class QtWorkspace : public Workspace {
public:
    bool openUrl(const std::string& url) override;
    bool revealFile(const std::string& path) override;
};

}  // namespace platform
