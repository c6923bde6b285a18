// The main window's content: the sidebar, a divider and the page area. The page area shows the
// selected page, built afresh each time the selection changes (so a page's search and filters
// last only while it stays selected). Every page but Settings sits in a vertical scroll area with
// 24 points of padding; Settings scrolls by itself and fills the area.
#pragma once

#include "ui/main/Page.h"

#include <QWidget>

class BackendClient;
class Database;
class MainNav;
class QScrollArea;
class QVBoxLayout;
class Sidebar;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 860;
    static constexpr int minimumHeight = 560;

    MainWindow(MainNav& nav, BackendClient& backend, Database& store, QWidget* parent = nullptr);

    // The page now shown and the page it is.
    QWidget* pageWidget() const { return page_; }
    Page shownPage() const { return shown_; }
    // The scroll area around the page, or null for the Settings page.
    QScrollArea* pageScroll() const { return scroll_; }

private:
    void showPage(Page page);

    MainNav& nav_;
    BackendClient& backend_;
    Database& store_;
    Sidebar* sidebar_;
    QWidget* area_;
    QVBoxLayout* areaLayout_;
    QWidget* holder_ = nullptr;  // what sits in the area: the scroll area or the Settings page
    QWidget* page_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    Page shown_ = Page::home;
};
