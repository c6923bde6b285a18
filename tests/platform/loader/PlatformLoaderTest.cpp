// In a GNOME session under Wayland the loader asks the desktop's portals after start-up: once they
// answer, the push-to-talk key comes from the GlobalShortcuts portal and the paste chord goes
// through the RemoteDesktop portal, and the session's status says so.
#include "support/FakePortal.h"

#include "platform/Defaults.h"
#include "platform/KeySynth.h"
#include "platform/loader/PlatformLoader.h"
#include "support/AsyncWait.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace platform;

TEST(PlatformLoader, AGnomeSessionTakesTheKeyAndThePasteFromThePortalsOnceTheyAnswer) {
    test::FakePortal portal;
    ASSERT_TRUE(portal.ok());
    portal.remoteDesktopVersion = 2;
    // This test is the process's first user of the session bus.
    setenv("DBUS_SESSION_BUS_ADDRESS", portal.address().c_str(), 1);
    SessionChoice::setCurrent({DesktopKind::gnome, KeySource::xwaylandOnly, ClipboardPath::system,
                               PastePath::clipboardOnly});
    std::vector<ControlCommand> commands;
    {
        PlatformLoader loader(nullptr);
        loader.startDesktopServices([&](ControlCommand command) { commands.push_back(command); });
        ASSERT_TRUE(test::driveUntil(
            [] {
                const SessionChoice now = SessionChoice::current();
                return now.key == KeySource::desktopShortcut && now.paste == PastePath::remoteDesktop;
            },
            10));
        EXPECT_EQ(Defaults::shared().string("remoteDesktopRestoreToken"), "token-1");

        portal.shortcut("Activated");
        portal.shortcut("Deactivated");
        ASSERT_TRUE(KeySynth::shared().paste());
        ASSERT_TRUE(test::driveUntil([&] { return commands.size() == 2 && portal.keys.size() == 4; }, 10));
        EXPECT_EQ(commands, (std::vector<ControlCommand>{ControlCommand::pttDown, ControlCommand::pttUp}));
        EXPECT_EQ(portal.keys, (std::vector<std::string>{"29+", "47+", "47-", "29-"}));
    }
    test::reset();  // the loader's key synth is gone with it
}
