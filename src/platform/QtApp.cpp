#include "platform/QtApp.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

namespace platform {

void QtApp::setRegular(bool regular) {
    regular_ = regular;
    // Accessory: top-level windows stay out of the taskbar.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowType() != Qt::Window && w->windowType() != Qt::Dialog) continue;
        const bool visible = w->isVisible();
        w->setWindowFlag(Qt::Tool, !regular);
        if (visible) w->show();
    }
}

void QtApp::setDarkAppearance() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    const QColor window(30, 30, 32), base(22, 22, 24), text(235, 235, 240), mid(60, 60, 66);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Mid, mid);
    p.setColor(QPalette::Highlight, QColor(64, 128, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
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

bool QtApp::hasVisibleWindows() const {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog)) return true;
    return false;
}

}  // namespace platform
