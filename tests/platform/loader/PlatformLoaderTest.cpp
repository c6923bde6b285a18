// In a GNOME session under Wayland the loader asks the desktop's portals after start-up: once they
// answer, the push-to-talk key comes from the GlobalShortcuts portal and the paste chord goes
// through the RemoteDesktop portal, and the session's status says so: the key the desktop reports,
// and the paste permission, which the windows show and can ask for again.
#include "support/FakePortal.h"

#include "platform/Defaults.h"
#include "platform/KeySynth.h"
#include "platform/PastePermission.h"
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
        // The key binds at once; the paste's dialog waits until the user asks for it, having read why.
        ASSERT_TRUE(test::driveUntil([] { return SessionChoice::current().key == KeySource::desktopShortcut; }, 10));
        ASSERT_TRUE(PastePermission::isInstalled());
        EXPECT_EQ(PastePermission::shared().state(), PastePermission::State::notGranted);
        PastePermission::shared().request();
        ASSERT_TRUE(test::driveUntil([] { return SessionChoice::current().paste == PastePath::remoteDesktop; }, 10));
        EXPECT_EQ(Defaults::shared().string("remoteDesktopRestoreToken"), "token-1");
        EXPECT_EQ(SessionChoice::current().keyTrigger, portal.trigger);
        EXPECT_EQ(PastePermission::shared().state(), PastePermission::State::granted);
        EXPECT_TRUE(PastePermission::shared().remembered());

        portal.shortcut("Activated");
        portal.shortcut("Deactivated");
        ASSERT_TRUE(KeySynth::shared().paste());
        ASSERT_TRUE(test::driveUntil([&] { return commands.size() == 2 && portal.keys.size() == 4; }, 10));
        EXPECT_EQ(commands, (std::vector<ControlCommand>{ControlCommand::pttDown, ControlCommand::pttUp}));
        EXPECT_EQ(portal.keys, (std::vector<std::string>{"29+", "47+", "47-", "29-"}));

        // The desktop ends the session: no longer granted; a refusal when asked again stays so, and
        // the next request, with the stored token, is granted.
        auto permission = [] { return PastePermission::shared().state(); };
        portal.closeSession();
        ASSERT_TRUE(test::driveUntil([&] { return permission() == PastePermission::State::notGranted; }, 10));
        portal.startAnswer = 2;
        PastePermission::shared().request();
        ASSERT_TRUE(test::driveUntil([&] { return permission() == PastePermission::State::notGranted; }, 10));
        EXPECT_EQ(SessionChoice::current().paste, PastePath::clipboardOnly);
        portal.startAnswer = 0;
        PastePermission::shared().request();
        ASSERT_TRUE(test::driveUntil([&] { return permission() == PastePermission::State::granted; }, 10));
        EXPECT_EQ(portal.receivedRestoreToken, "token-1");
    }
    EXPECT_FALSE(PastePermission::isInstalled()) << "nothing points into the loader once it is gone";
    test::reset();  // the loader's key synth is gone with it
}
