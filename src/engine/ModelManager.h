// The on-device model files: catalogue, what is installed, downloads, the active model.
#pragma once

#include "platform/Signal.h"

#include <set>
#include <string>

class ModelManager {
public:
    static ModelManager& shared();

    // Ids of the installed models.
    const std::set<std::string>& installed() const { return installed_; }

    platform::Signal<> changed;

private:
    ModelManager();
    std::set<std::string> installed_;
};
