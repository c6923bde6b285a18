#include "ui/main/MainWindowController.h"

MainWindowController& MainWindowController::shared() {
    static MainWindowController controller;
    return controller;
}

MainWindowController::MainWindowController() = default;

void MainWindowController::show(std::optional<Page>) {}
bool MainWindowController::isVisible() const { return false; }
