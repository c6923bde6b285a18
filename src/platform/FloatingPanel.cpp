#include "platform/FloatingPanel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace platform {

FloatingPanel::FloatingPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle("Tovrin");
}

void FloatingPanel::setContent(QWidget* content) {
    delete content_;
    content_ = content;
    if (!content_) return;
    content_->setParent(this);
    content_->setFocusPolicy(Qt::NoFocus);
    content_->setGeometry(rect());
    content_->show();
}

void FloatingPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (content_) content_->setGeometry(rect());
}

void FloatingPanel::orderFront() {
    if (!isVisible()) {
        applyShape();
        show();
        applyX11Hints();
    }
    if (QGuiApplication::platformName() != "offscreen") raise();
}

void FloatingPanel::orderOut() {
    dragging_ = false;
    hide();
}

void FloatingPanel::setShape(const QPainterPath& shape) {
    shape_ = shape;
    if (isVisible()) applyShape();
}

bool FloatingPanel::compositing() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display()) return true;  // not X11: the platform blends translucent windows itself
    Display* dpy = x11->display();
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(dpy));
    return XGetSelectionOwner(dpy, XInternAtom(dpy, name.constData(), False)) != 0;
}

void FloatingPanel::applyShape() {
    if (shape_.isEmpty() || compositing()) {
        clearMask();
        return;
    }
    setMask(QRegion(shape_.toFillPolygon().toPolygon()));
}

void FloatingPanel::applyX11Hints() {
    // The panel bypasses the window manager, which already keeps it on every workspace and out
    // of the focus order. Say so in the window's hints as well, for desktops that look at them.
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display() || !windowHandle()) return;
    Display* dpy = x11->display();
    const Window win = static_cast<Window>(winId());
    if (XWMHints* hints = XAllocWMHints()) {
        hints->flags = InputHint;
        hints->input = False;
        XSetWMHints(dpy, win, hints);
        XFree(hints);
    }
    const Atom state = XInternAtom(dpy, "_NET_WM_STATE", False);
    Atom values[] = {XInternAtom(dpy, "_NET_WM_STATE_ABOVE", False), XInternAtom(dpy, "_NET_WM_STATE_STICKY", False),
                     XInternAtom(dpy, "_NET_WM_STATE_SKIP_TASKBAR", False),
                     XInternAtom(dpy, "_NET_WM_STATE_SKIP_PAGER", False)};
    XChangeProperty(dpy, win, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values), 4);
    const Atom desktop = XInternAtom(dpy, "_NET_WM_DESKTOP", False);
    long all = 0xFFFFFFFF;
    XChangeProperty(dpy, win, desktop, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&all), 1);
    XFlush(dpy);
}

void FloatingPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (onMoved && isVisible()) onMoved(pos());
}

void FloatingPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
    event->accept();
}

void FloatingPanel::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
}

void FloatingPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
}

}  // namespace platform
