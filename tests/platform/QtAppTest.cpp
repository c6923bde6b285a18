#include "platform/QtApp.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QWidget>

namespace {

// Accessory mode keeps every ordinary window out of the taskbar, also those built later, and
// regular mode brings them all back; menus and panels are left as they are.
TEST(QtApp, TheTaskbarModeFollowsEveryOrdinaryWindow) {
    platform::QtApp app;
    QWidget early;
    early.show();
    app.setRegular(false);
    EXPECT_EQ(early.windowType(), Qt::Tool);
    EXPECT_TRUE(early.isVisible());

    QWidget later;
    later.resize(200, 100);
    later.show();
    EXPECT_EQ(later.windowType(), Qt::Tool);

    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    QMenu menu;
    app.setRegular(true);
    EXPECT_EQ(early.windowType(), Qt::Window);
    EXPECT_EQ(later.windowType(), Qt::Window);
    EXPECT_EQ(panel.windowType(), Qt::Tool);
    EXPECT_EQ(menu.windowType(), Qt::Popup);
    EXPECT_TRUE(app.isRegular());
}

}  // namespace
