// The main window with its pages.
#pragma once

#include "ui/main/Page.h"

#include <optional>

class MainWindowController {
public:
    static MainWindowController& shared();
    // Shows the window at `page`, or at the current page when none is given.
    void show(std::optional<Page> page);
    bool isVisible() const;

private:
    MainWindowController();
};
