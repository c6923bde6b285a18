// Creates and shows the main window. The window is built on the first show and kept for the life
// of the process: closing only hides it, and the next show brings back the same window where the
// user left it, on the page requested or on the one last selected.
#pragma once

#include "ui/main/Page.h"

#include <optional>

class MainWindow;

class MainWindowController {
public:
    static constexpr int initialWidth = 920;
    static constexpr int initialHeight = 620;

    static MainWindowController& shared();
    // Selects `page` (when given) first, builds the window if it does not exist yet, then brings
    // it to the front with keyboard focus.
    void show(std::optional<Page> page);
    bool isVisible() const;
    // Null until the first show.
    MainWindow* window() const { return window_; }

private:
    MainWindowController();
    MainWindow* window_ = nullptr;
};
