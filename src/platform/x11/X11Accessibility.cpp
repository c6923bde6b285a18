#include "platform/x11/X11Accessibility.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

namespace platform {

bool X11Accessibility::isTrusted(bool) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return false;
    int opcode = 0, event = 0, error = 0;
    const bool xtest = XQueryExtension(display, "XTEST", &opcode, &event, &error);
    const bool xinput = XQueryExtension(display, "XInputExtension", &opcode, &event, &error);
    return xtest && xinput;
}

}  // namespace platform
