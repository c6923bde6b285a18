// The push-to-talk key setting reaches the desktop's shortcut: a change is suggested to the
// desktop at once, and the key the desktop bound is what the session's status shows. KDE cannot
// bind a lone modifier, and a new suggestion under the same session clears its binding there, so
// KDE is always asked for Menu and never asked again.
#include "support/FakePortal.h"

#include "platform/Defaults.h"
#include "platform/KeyEvents.h"
#include "platform/NotificationCenter.h"
#include "platform/loader/PlatformLoader.h"
#include "support/AsyncWait.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace platform;

TEST(PlatformLoader, TheKeySettingReachesTheDesktopsShortcutButKdeIsAlwaysAskedForMenu) {
    test::FakePortal portal;
    ASSERT_TRUE(portal.ok());
    portal.boundInCreate = true;  // the shortcut comes back bound from CreateSession
    portal.trigger = "Menu";
    setenv("DBUS_SESSION_BUS_ADDRESS", portal.address().c_str(), 1);
    Defaults::shared().setInt("pttKeyCode", KeyCode::function);
    auto keyChanged = [](int code) {
        Defaults::shared().setInt("pttKeyCode", code);
        NotificationCenter::shared().post("wendaro.pttKeyChanged");
    };
    auto bound = [] {
        const SessionChoice now = SessionChoice::current();
        return now.key == KeySource::desktopShortcut && now.keyTrigger == "Menu";
    };
    {
        SessionChoice::setCurrent({DesktopKind::gnome, KeySource::xwaylandOnly, ClipboardPath::system, PastePath::x11});
        PlatformLoader loader(nullptr);
        loader.startDesktopServices([](ControlCommand) {});
        ASSERT_TRUE(test::driveUntil(bound, 10));
        EXPECT_EQ(SessionChoice::current().keyStatus(), "Key: desktop shortcut (Menu)");
        keyChanged(KeyCode::rightControl);
        ASSERT_TRUE(test::driveUntil([&] { return portal.preferredTriggers.size() == 2; }, 10));
        EXPECT_EQ(portal.preferredTriggers, (std::vector<std::string>{"Menu", "Control_R"}));
    }
    {
        SessionChoice::setCurrent({DesktopKind::kde, KeySource::xwaylandOnly, ClipboardPath::dataControl,
                                   PastePath::kdeFakeInput});
        PlatformLoader loader(nullptr);
        loader.startDesktopServices([](ControlCommand) {});
        ASSERT_TRUE(test::driveUntil(bound, 10));
        keyChanged(KeyCode::rightOption);
        test::driveUntil([] { return false; }, 0.5);
        EXPECT_EQ(portal.preferredTriggers, (std::vector<std::string>{"Menu", "Control_R", "Menu"}));
    }
    test::reset();
}
