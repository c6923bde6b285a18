// Our own keys kept from every window on X11: each ordinary key (not in the server's modifier
// map, such as the Menu key standing in for Fn) that carries a held code is grabbed on the root
// window under every modifier combination, on a connection of our own. The press that comes to
// the grab and the key's release are dropped (the raw key events, which arrive all the same,
// report them once); another key typed during the hold gives the keyboard back to the window in
// front, that key included.
// The grab follows the keymap, and goes with this object (or with the connection, however the
// program ends).
#pragma once

#include "platform/KeyGrab.h"
#include "platform/x11/X11KeyMap.h"
#include "platform/x11/X11PassiveKeyGrab.h"

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
struct _XDisplay;

namespace platform {

class X11KeyGrab : public KeyGrab {
public:
    // `displayName` empty: the display of $DISPLAY.
    explicit X11KeyGrab(std::string displayName = {});
    ~X11KeyGrab() override;
    X11KeyGrab(const X11KeyGrab&) = delete;
    X11KeyGrab& operator=(const X11KeyGrab&) = delete;

    void hold(const std::vector<int>& codes) override;

    // The X key numbers grabbed now (under at least one combination).
    std::vector<int> grabbedKeycodes() const;

    // Reads whatever the connection holds now (the socket notifier calls it too).
    void readPending();

private:
    bool open();
    void regrab();
    bool isServerModifier(int keycode) const;

    std::string displayName_;
    _XDisplay* display_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    int xkbEventBase_ = 0;
    X11KeyMap keyMap_;
    std::vector<int> codes_;
    std::map<int, std::unique_ptr<X11PassiveKeyGrab>> grabs_;  // by X key number
    int held_ = 0;  // the grabbed key held down now, while the keyboard is ours
    std::set<int> replayed_;  // keys typed during a hold and handed on to the window in front
};

}  // namespace platform
