#include "platform/x11/X11KeyMap.h"

#include "platform/KeyEvents.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform {

namespace {

// The keysym XF86Fn (the header defines it through a helper macro it removes again).
constexpr KeySym kFnKeysym = 0x10081000 + 0x1D0;

// The symbol of a key at the first shift level of `group`, as the server would pick it.
KeySym symbolAt(XkbDescPtr xkb, int keycode, int group) {
    if (!xkb || keycode < xkb->min_key_code || keycode > xkb->max_key_code) return NoSymbol;
    const int groups = XkbKeyNumGroups(xkb, keycode);
    if (groups == 0) return NoSymbol;
    if (group >= groups) {
        const unsigned info = XkbKeyGroupInfo(xkb, keycode);
        switch (XkbOutOfRangeGroupAction(info)) {
        case XkbClampIntoRange: group = groups - 1; break;
        case XkbRedirectIntoRange:
            group = XkbOutOfRangeGroupNumber(info);
            if (group >= groups) group = 0;
            break;
        default: group %= groups; break;
        }
    }
    return XkbKeySymEntry(xkb, keycode, 0, group);
}

}  // namespace

X11KeyMap::Key X11KeyMap::describe(unsigned long keysym, bool hasFnKey, int xKeycode) {
    using namespace KeyCode;
    switch (keysym) {
    case XK_Escape: return {escape, false, 0};
    case XK_v:
    case XK_V: return {v, false, 0};
    case XK_Control_L: return {leftControl, true, KeyFlag::control};
    case XK_Control_R: return {rightControl, true, KeyFlag::control};
    case XK_Alt_L: return {leftOption, true, KeyFlag::option};
    case XK_Alt_R:
    case XK_ISO_Level3_Shift: return {rightOption, true, KeyFlag::option};
    case XK_Super_L: return {leftCommand, true, KeyFlag::command};
    case XK_Super_R: return {rightCommand, true, KeyFlag::command};
    case XK_Shift_L: return {leftShift, true, KeyFlag::shift};
    case XK_Shift_R: return {rightShift, true, KeyFlag::shift};
    case XK_Caps_Lock: return {capsLock, true, KeyFlag::capsLock};
    case kFnKeysym: return {function, true, KeyFlag::function};
    case XK_Menu:
        if (!hasFnKey) return {function, true, KeyFlag::function};
        break;
    default: break;
    }
    return {unnamedBase + xKeycode, false, 0};
}

void X11KeyMap::load(_XDisplay* display) {
    XkbStateRec state{};
    group_ = XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.group : 0;
    rebuild(display);
}

void X11KeyMap::setGroup(_XDisplay* display, int group) {
    if (group == group_) return;
    group_ = group;
    rebuild(display);
}

void X11KeyMap::rebuild(_XDisplay* display) {
    keys_.fill({});
    XkbDescPtr xkb = XkbGetMap(display, XkbKeySymsMask, XkbUseCoreKbd);
    hasFn_ = false;
    if (xkb) {
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && kc < 256; ++kc) {
            const int groups = XkbKeyNumGroups(xkb, kc);
            for (int g = 0; g < groups && !hasFn_; ++g)
                if (XkbKeySymEntry(xkb, kc, 0, g) == kFnKeysym) hasFn_ = true;
        }
    }
    for (int kc = 0; kc < 256; ++kc) keys_[kc] = describe(symbolAt(xkb, kc, group_), hasFn_, kc);
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
}

void X11KeyMap::follow(_XDisplay* display) {
    XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
    XSync(display, False);
    load(display);
}

const X11KeyMap::Key& X11KeyMap::key(int xKeycode) const {
    static const Key none{};
    return xKeycode >= 0 && xKeycode < 256 ? keys_[xKeycode] : none;
}

}  // namespace platform
