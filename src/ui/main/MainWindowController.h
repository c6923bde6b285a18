// The main window with its pages.
#pragma once

#include <optional>

enum class Page { home, history, dictionary, shortcuts, settings };

class MainWindowController {
public:
    static MainWindowController& shared();
    // Shows the window at `page`, or at the current page when none is given.
    void show(std::optional<Page> page);
    bool isVisible() const;

private:
    MainWindowController();
};
