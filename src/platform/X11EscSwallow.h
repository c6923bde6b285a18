// Esc swallow on X11: a passive grab of Escape on the root window (for every Caps Lock and Num
// Lock combination, alone and with each push-to-talk key's modifier held), held on a connection of our own, so the program in front never sees the key.
// The grab is held only while none of our own windows has the keyboard focus: Esc typed into one
// of them goes to that window as usual.
#pragma once

#include "platform/EscSwallow.h"

#include <memory>
#include <string>
#include <vector>

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
    // Every Esc press is taken only when the grab holds with every push-to-talk modifier too.
    bool isSwallowing() const override { return grabbedKeycode_ != 0 && allModifiers_; }

    // Reads whatever the connection holds now (the socket notifier calls it too).
    void readPending();

private:
    bool open();
    bool grab();
    bool grabWith(int keycode, unsigned int modifiers);
    void ungrab();
    void followFocus();

    std::string displayName_;
    _XDisplay* display_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<QObject> context_;
    std::function<void()> onEscape_;
    bool enabled_ = false;
    int grabbedKeycode_ = 0;
    std::vector<unsigned int> grabbedModifiers_;
    bool allModifiers_ = false;
};

}  // namespace platform
