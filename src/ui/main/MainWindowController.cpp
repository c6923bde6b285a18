#include "ui/main/MainWindowController.h"

#include "state/Database.h"
#include "cloud/BackendClient.h"
#include "ui/main/MainNav.h"
#include "ui/main/MainWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

MainWindowController& MainWindowController::shared() {
    static MainWindowController controller;
    return controller;
}

MainWindowController::MainWindowController() = default;

void MainWindowController::show(std::optional<Page> page) {
    if (page) MainNav::shared().setPage(*page);
    if (!window_) {
        // Never deleted: the window lives as long as the process.
        window_ = new MainWindow(MainNav::shared(), BackendClient::shared(), Database::shared());
        window_->setWindowTitle("Tovrin");
        window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
        window_->setAttribute(Qt::WA_DeleteOnClose, false);
        window_->resize(initialWidth, initialHeight);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), window_->size());
            frame.moveCenter(screen->availableGeometry().center());
            window_->move(frame.topLeft());
        }
    }
    if (window_->isMinimized()) window_->showNormal();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

bool MainWindowController::isVisible() const { return window_ && window_->isVisible(); }
