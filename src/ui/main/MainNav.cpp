#include "ui/main/MainNav.h"

MainNav& MainNav::shared() {
    static MainNav* nav = new MainNav;  // lives until exit, after every window that watches it
    return *nav;
}

void MainNav::setPage(Page page) {
    if (page == page_) return;
    page_ = page;
    emit pageChanged(page);
}
