// Esc swallow on X11: a passive grab of Escape on the root window (for every Caps Lock and Num
// Lock combination), held on a connection of our own, so the program in front never sees the key.
// The grab is held only while none of our own windows has the keyboard focus: Esc typed into one
// of them goes to that window as usual.
#pragma once

#include "platform/EscSwallow.h"

#include <memory>
#include <string>

class QObject;
class QSocketNotifier;
struct _XDisplay;

namespace platform {

class X11EscSwallow : public EscSwallow {
public:
    // `displayName` empty: the display of $DISPLAY.
    explicit X11EscSwallow(std::string displayName = {});
    ~X11EscSwallow() override;
    X11EscSwallow(const X11EscSwallow&) = delete;
    X11EscSwallow& operator=(const X11EscSwallow&) = delete;

    bool enable(std::function<void()> onEscape) override;
    void disable() override;
    bool isEnabled() const override { return enabled_; }
    bool isSwallowing() const override { return grabbedKeycode_ != 0; }

    // Reads whatever the connection holds now (the socket notifier calls it too).
    void readPending();

private:
    bool open();
    bool grab();
    void ungrab();
    void followFocus();

    std::string displayName_;
    _XDisplay* display_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<QObject> context_;
    std::function<void()> onEscape_;
    bool enabled_ = false;
    int grabbedKeycode_ = 0;
};

}  // namespace platform
