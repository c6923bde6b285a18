// A desktop's custom shortcut in memory: what was installed, and a switch to make the desktop's
// settings refuse the change.
#pragma once

#include "platform/CustomShortcut.h"

#include <string>

namespace platform {

class FakeCustomShortcut : public CustomShortcut {
public:
    bool isAvailable = true;
    bool refuse = false;   // install and remove fail, changing nothing
    bool present = false;
    int keyCode = 0;
    std::string command;
    int calls = 0;

    bool available() override { return isAvailable; }
    bool installed() override { return present; }
    bool install(int key, const std::string& line) override {
        ++calls;
        if (refuse) return false;
        present = true;
        keyCode = key;
        command = line;
        return true;
    }
    bool remove() override {
        ++calls;
        if (refuse) return false;
        present = false;
        return true;
    }
};

}  // namespace platform
