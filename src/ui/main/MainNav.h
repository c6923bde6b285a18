// The selected page of the main window, shared by the window controller, the sidebar and the Home
// page. It outlives the window: the window reopens on the page last selected.
#pragma once

#include "ui/main/Page.h"

#include <QObject>

class MainNav : public QObject {
    Q_OBJECT
public:
    static MainNav& shared();

    Page page() const { return page_; }
    // Selects `page`; pageChanged fires only when the selection actually changes.
    void setPage(Page page);

signals:
    void pageChanged(Page page);

private:
    MainNav() = default;
    Page page_ = Page::home;
};
