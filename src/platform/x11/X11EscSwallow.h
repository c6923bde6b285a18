// Esc swallow on X11: a passive grab of Escape on the root window under every modifier
// combination (Shift, Control, Alt, Super, AltGr, Caps Lock, Num Lock and their mixes), held on a
// connection of our own, so the program in front never sees the key.
// The grab is held only while none of our own windows has the keyboard focus: Esc typed into one
// of them goes to that window as usual.
#pragma once

#include "platform/EscSwallow.h"
#include "platform/x11/X11PassiveKeyGrab.h"

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
    // Every Esc press is taken only when the grab holds under every modifier combination; when
    // another program holds some of them, the key events report Esc and this reports nothing.
    bool isSwallowing() const override { return grab_.complete(); }

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
    X11PassiveKeyGrab grab_;
};

}  // namespace platform
