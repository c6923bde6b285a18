#include "platform/qt/QtApp.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

namespace platform {

namespace {

constexpr const char* kAccessoryMark = "tovrinAccessoryWindow";

// Ordinary windows and the ones this mode turned into tool windows; never panels or popups.
bool followsMode(QWidget* w) {
    return w->isWindow() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog ||
                             w->property(kAccessoryMark).toBool());
}

// Accessory: the window stays out of the taskbar (a tool window on X11); regular: back in it.
void applyMode(QWidget* w, bool regular) {
    if (!followsMode(w)) return;
    const bool tool = w->windowType() == Qt::Tool;
    if (tool == !regular) return;
    const bool visible = w->isVisible();
    w->setWindowFlag(Qt::Tool, !regular);
    w->setProperty(kAccessoryMark, !regular);
    if (visible) w->show();
}

// Windows built later (onboarding, the main window) take the mode in force when they are polished,
// before they first appear. The filter also notes the window the user last worked in.
class ModeFilter : public QObject {
public:
    ModeFilter(const bool* regular, QPointer<QWidget>* lastActive) : regular_(regular), lastActive_(lastActive) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Polish && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (w->isWindow() && !w->isVisible()) applyMode(w, *regular_);
        } else if (e->type() == QEvent::WindowActivate && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (followsMode(w)) *lastActive_ = w;
        }
        return false;
    }

private:
    const bool* regular_;
    QPointer<QWidget>* lastActive_;
};

}  // namespace

void QtApp::setRegular(bool regular) {
    regular_ = regular;
    if (!filter_ && qApp) {
        filter_ = std::make_unique<ModeFilter>(&regular_, &lastActive_);
        qApp->installEventFilter(filter_.get());
    }
    for (QWidget* w : QApplication::topLevelWidgets()) applyMode(w, regular);
}

void QtApp::setDarkAppearance() {
    // A style that draws everything from the application's palette, whatever the desktop's own
    // theme; the palette itself is the visual kit's. Dark until then, in every role and state.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette p(QColor(30, 30, 32), QColor(30, 30, 32));
    p.setColor(QPalette::Base, QColor(22, 22, 24));
    p.setColor(QPalette::Highlight, QColor(64, 128, 255));
    p.setColor(QPalette::PlaceholderText, QColor(140, 140, 150));
    QApplication::setPalette(p);
}

bool QtApp::setIconImage(const std::string& path) {
    QPixmap pixmap(QString::fromStdString(path));
    if (pixmap.isNull()) return false;
    QApplication::setWindowIcon(QIcon(pixmap));
    return true;
}

void QtApp::showAlert(const std::string& message, const std::string& informative, const std::string& button) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(informative));
    box.addButton(QString::fromStdString(button), QMessageBox::AcceptRole);
    box.exec();
}

void QtApp::terminate() { QApplication::quit(); }

// Our windows the user opened: ordinary ones, also while this mode keeps them out of the taskbar
// as tool windows; the recording panel, menus and popups do not count.
std::vector<QWidget*> QtApp::visibleWindows() {
    std::vector<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && followsMode(w)) out.push_back(w);
    return out;
}

bool QtApp::hasVisibleWindows() const { return !visibleWindows().empty(); }

QWidget* QtApp::frontWindow() const {
    const auto windows = visibleWindows();
    if (windows.empty()) return nullptr;
    for (QWidget* w : windows)
        if (w == lastActive_) return w;
    return windows.back();
}

void QtApp::bringVisibleWindowsForward() {
    const auto windows = visibleWindows();
    if (windows.empty()) return;
    // The one the user worked in last goes in front of the others.
    QWidget* front = frontWindow();
    for (QWidget* w : windows) {
        if (w == front) continue;
        if (w->isMinimized()) w->showNormal();
        w->raise();
    }
    if (front->isMinimized()) front->showNormal();
    front->raise();
    front->activateWindow();
}

}  // namespace platform
