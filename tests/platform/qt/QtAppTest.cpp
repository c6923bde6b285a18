#include "platform/qt/QtApp.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMenu>
#include <QTest>
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

// Windows kept out of the taskbar are still ours and shown; the recording panel is not. Bringing
// them forward restores a minimised one and activates the window the user last worked in.
TEST(QtApp, ToolWindowsCountAsShownAndComeForward) {
    platform::QtApp app;
    app.setRegular(false);
    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    panel.show();
    EXPECT_FALSE(app.hasVisibleWindows());

    QWidget main, other;
    main.show();
    other.show();
    ASSERT_EQ(main.windowType(), Qt::Tool);
    EXPECT_TRUE(app.hasVisibleWindows());

    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    main.showMinimized();
    panel.activateWindow();
    QCoreApplication::processEvents();
    app.bringVisibleWindowsForward();
    EXPECT_FALSE(main.isMinimized());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
}

}  // namespace
