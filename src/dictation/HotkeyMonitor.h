// Watches the keyboard system-wide for the push-to-talk key, the cancel key and Esc.
#pragma once

#include <functional>

class HotkeyMonitor {
public:
    HotkeyMonitor();
    virtual ~HotkeyMonitor();

    std::function<void()> onFnDown;
    std::function<void(double)> onFnUp;
    std::function<void()> onKeyDownDuringHold;
    std::function<void()> onCancel;
    std::function<void()> onCancelKey;

    virtual void start();
    virtual void setEscSwallow(bool on);
};
