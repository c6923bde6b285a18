// Exact key sequences for tests: presses and releases keys through XTest on a connection of its
// own, as a physical keyboard would (nothing else is pressed along with them).
#pragma once

#include <string>
#include <vector>

struct _XDisplay;

namespace test {

class XTestKeyboard {
public:
    // `displayName` empty: the display of $DISPLAY.
    explicit XTestKeyboard(const std::string& displayName = {});
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool ok() const { return display_ != nullptr; }
    _XDisplay* display() const { return display_; }

    // Keys by keysym name ("Control_R", "Escape", "a"); false when the keymap has no such key.
    bool press(const std::string& keysym);
    bool release(const std::string& keysym);
    bool tap(const std::string& keysym);
    // Keys by X key number.
    void pressKeycode(int keycode);
    void releaseKeycode(int keycode);

    // The key number of a keysym in the current keymap (0 when unbound).
    int keycodeOf(const std::string& keysym);
    // A key number that carries no symbol at all, for binding test keys (0 when none is free).
    int unusedKeycode();
    // Binds `keysym` (by name, or "" for none) to a key number, changing the keymap for every client.
    bool bind(int keycode, const std::string& keysym);

    // Holds a key for this connection (a passive grab on the root window with every Caps Lock and
    // Num Lock combination), as a program with a global shortcut on it would; false on failure.
    bool grabKey(const std::string& keysym);
    void ungrabKey(const std::string& keysym);

    // Gives the keyboard focus to a window (no window manager needed).
    void focus(unsigned long window);

private:
    void refresh();

    _XDisplay* display_ = nullptr;
};

}  // namespace test
