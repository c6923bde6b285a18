// Global key events on X11: XInput2 raw key events from the root window (every keyboard, no focus
// needed, the keys are not consumed), read on a connection of our own and turned into flags
// changes and key presses with the stored key codes of the current keymap.
//
// A key held down keeps the meaning it had when it went down, until it comes up: its release
// carries the same code as its press, whatever the keymap says by then. When the keymap (or the
// layout) changes what a held modifier key means, its hold ends there and then, reported as a
// release; the physical release that follows later is not reported again.
#pragma once

#include "platform/KeyEvents.h"
#include "platform/x11/X11KeyMap.h"

#include <map>
#include <set>
#include <string>

class QSocketNotifier;
struct _XDisplay;

namespace platform {

class X11KeyEvents : public KeyEvents {
public:
    // `displayName` empty: the display of $DISPLAY.
    explicit X11KeyEvents(std::string displayName = {});
    ~X11KeyEvents() override;
    X11KeyEvents(const X11KeyEvents&) = delete;
    X11KeyEvents& operator=(const X11KeyEvents&) = delete;

    // Connects and selects the raw key events (done by the first monitor as well). False when the
    // display cannot be opened or lacks XInput 2.2.
    bool open();
    bool isOpen() const { return display_ != nullptr; }

    int addFlagsChangedMonitor(KeyScope scope, FlagsHandler handler) override;
    int addKeyDownMonitor(KeyScope scope, KeyDownHandler handler) override;
    void removeMonitor(int token) override;

    // Reads whatever the connection holds now (the socket notifier calls it too).
    void readPending();

private:
    struct Monitor {
        KeyScope scope;
        FlagsHandler flags;
        KeyDownHandler keyDown;
    };

    int addMonitor(Monitor monitor);
    void keyPressed(int xKeycode, bool repeatFlag);
    void keyReleased(int xKeycode);
    // After the keymap changed: ends, as releases, the holds of modifier keys it gave another meaning.
    void endChangedHolds();
    std::uint64_t heldFlags() const;
    void dispatch(const FlagsChangedEvent* flags, const KeyDownEvent* keyDown);

    std::string displayName_;
    _XDisplay* display_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    int xiOpcode_ = 0;
    int xkbEventBase_ = 0;
    X11KeyMap keyMap_;
    std::map<int, X11KeyMap::Key> down_;  // X key numbers held, with what they meant when pressed
    std::set<int> endedHolds_;             // held keys whose hold a keymap change ended
    std::map<int, Monitor> monitors_;
    int nextToken_ = 1;
};

}  // namespace platform
