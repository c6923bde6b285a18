// The portal clients against a scripted portal on a private bus. Shortcuts: the GNOME 48 order, the
// Plasma 5.27 order, refusals, a closed session, key repeats, a rebind. Paste: the chord as key
// codes, the grant kept across starts where the portal can, a refusal, a closed session.
#include "support/FakePortal.h"

#include "platform/KeyEvents.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/portal/RemoteDesktopPortal.h"
#include "support/AsyncWait.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using platform::GlobalShortcutsPortal;
using platform::RemoteDesktopPortal;
using Strings = std::vector<std::string>;

namespace {

// Lets signals already sent arrive.
void pump() {
    test::driveUntil([] { return false; }, 0.2);
}

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(portal_.ok()) << "no private bus"; }
    test::FakePortal portal_;
};

class GlobalShortcutsPortalTest : public PortalTest {
protected:
    void SetUp() override {
        PortalTest::SetUp();
        client_ = std::make_unique<GlobalShortcutsPortal>(portal_.address());
        client_->onPressed = [this] { events_.push_back("down"); };
        client_->onReleased = [this] { events_.push_back("up"); };
    }

    bool settle(GlobalShortcutsPortal::State wanted) {
        return test::driveUntil([&] { return client_->state() == wanted; }, 10);
    }

    std::unique_ptr<GlobalShortcutsPortal> client_;
    Strings events_;
};

using Shortcuts = GlobalShortcutsPortal::State;

TEST_F(GlobalShortcutsPortalTest, BindsInTheDialogAndFollowsPressAndReleaseOnce) {
    client_->start("Menu");
    ASSERT_TRUE(settle(Shortcuts::bound));
    EXPECT_EQ(portal_.calls, (Strings{"GlobalShortcuts.CreateSession", "GlobalShortcuts.BindShortcuts"}));
    EXPECT_EQ(client_->triggerDescription(), "Ctrl+Alt+D");

    portal_.shortcut("Deactivated");  // a release without a press is nothing
    portal_.shortcut("Activated");
    portal_.shortcut("Activated");  // the held key repeats
    pump();
    EXPECT_TRUE(client_->isDown());
    portal_.shortcut("Deactivated");
    pump();
    EXPECT_EQ(events_, (Strings{"down", "up"}));
}

TEST_F(GlobalShortcutsPortalTest, TakesTheShortcutBoundInCreateSessionWithoutTheDialog) {
    portal_.boundInCreate = true;
    portal_.trigger = "Menu";
    client_->start(GlobalShortcutsPortal::triggerForKeyCode(platform::KeyCode::function));
    ASSERT_TRUE(settle(Shortcuts::bound));
    EXPECT_EQ(portal_.calls, (Strings{"GlobalShortcuts.CreateSession"}));
    EXPECT_EQ(client_->triggerDescription(), "Menu");

    // The user picks another key: the session is opened again with it.
    client_->rebind(GlobalShortcutsPortal::triggerForKeyCode(platform::KeyCode::rightControl));
    ASSERT_TRUE(test::driveUntil([&] { return portal_.preferredTriggers.size() == 2; }, 10));
    ASSERT_TRUE(settle(Shortcuts::bound));
    EXPECT_EQ(portal_.preferredTriggers, (Strings{"Menu", "Control_R"}));
}

TEST_F(GlobalShortcutsPortalTest, ARefusalOrACancelLeavesTheKeyToTheNextSource) {
    portal_.createAnswer = 2;
    client_->start("Menu");
    ASSERT_TRUE(settle(Shortcuts::refused));
    portal_.shortcut("Activated");
    pump();
    EXPECT_TRUE(events_.empty());

    portal_.createAnswer = 0;
    portal_.bindAnswer = 1;
    client_->rebind("Menu");
    EXPECT_TRUE(settle(Shortcuts::refused));
}

TEST_F(GlobalShortcutsPortalTest, ASessionClosedWhileHeldReleasesTheKey) {
    client_->start("Menu");
    ASSERT_TRUE(settle(Shortcuts::bound));
    portal_.shortcut("Activated");
    pump();
    portal_.closeSession();
    ASSERT_TRUE(settle(Shortcuts::closed));
    EXPECT_EQ(events_, (Strings{"down", "up"}));
}

TEST_F(GlobalShortcutsPortalTest, NoPortalOnTheBusIsUnavailable) {
    portal_.vanish();
    client_->start("Menu");
    EXPECT_TRUE(settle(Shortcuts::unavailable));
}

class RemoteDesktopPortalTest : public PortalTest {
protected:
    void SetUp() override {
        PortalTest::SetUp();
        client_ = std::make_unique<RemoteDesktopPortal>(portal_.address());
        client_->onRestoreToken = [this](const std::string& token) { stored_ = token; };
    }

    bool settle(RemoteDesktopPortal::State wanted) {
        return test::driveUntil([&] { return client_->state() == wanted; }, 10);
    }

    std::unique_ptr<RemoteDesktopPortal> client_;
    std::string stored_;
};

using Paste = RemoteDesktopPortal::State;

TEST_F(RemoteDesktopPortalTest, SendsTheChordAsKeyCodesAndReleasesEveryKey) {
    EXPECT_FALSE(client_->paste());  // nothing granted yet: nothing sent
    client_->start();
    ASSERT_TRUE(settle(Paste::granted));
    EXPECT_EQ(portal_.receivedPersistMode, 0u);  // version 1 cannot keep the grant

    ASSERT_TRUE(client_->paste());
    EXPECT_FALSE(client_->targetIsTerminal());
    client_->focusedIsTerminal = [] { return true; };
    EXPECT_TRUE(client_->targetIsTerminal());  // the text's line breaks go before the paste
    ASSERT_TRUE(client_->paste());
    ASSERT_TRUE(test::driveUntil([&] { return portal_.keys.size() == 10; }, 10));
    EXPECT_EQ(portal_.keys, (Strings{"29+", "47+", "47-", "29-", "29+", "42+", "47+", "47-", "42-", "29-"}));
}

// The portal may handle calls that arrive together in any order; a release handled before its
// press leaves the key down, repeating in the user's field.
TEST_F(RemoteDesktopPortalTest, SendsEachKeyOnceThePortalHandledTheOneBefore) {
    client_->start();
    ASSERT_TRUE(settle(Paste::granted));
    portal_.holdKeyAnswers = true;
    ASSERT_TRUE(client_->paste());
    ASSERT_TRUE(test::driveUntil([&] { return !portal_.keys.empty(); }, 10));
    test::driveUntil([] { return false; }, 0.3);
    EXPECT_EQ(portal_.keys, (Strings{"29+"}));

    portal_.holdKeyAnswers = false;
    portal_.answerHeldKeys();
    ASSERT_TRUE(test::driveUntil([&] { return portal_.keys.size() == 4; }, 10));
    EXPECT_EQ(portal_.keys, (Strings{"29+", "47+", "47-", "29-"}));
}

TEST_F(RemoteDesktopPortalTest, KeepsTheGrantWhereThePortalCanAndAsksAgainAfterAClose) {
    portal_.remoteDesktopVersion = 2;
    client_->start("token-0");
    ASSERT_TRUE(settle(Paste::granted));
    EXPECT_EQ(portal_.receivedPersistMode, 2u);
    EXPECT_EQ(portal_.receivedRestoreToken, "token-0");
    EXPECT_EQ(stored_, "token-1");

    portal_.closeSession();
    ASSERT_TRUE(settle(Paste::closed));
    EXPECT_FALSE(client_->paste());  // this paste is told as not sent, and the session opens again
    EXPECT_TRUE(settle(Paste::granted));
    EXPECT_EQ(portal_.receivedRestoreToken, "token-1");
}

TEST_F(RemoteDesktopPortalTest, ARefusedDialogSendsNothing) {
    portal_.startAnswer = 2;
    client_->start();
    ASSERT_TRUE(settle(Paste::refused));
    EXPECT_FALSE(client_->paste());
    pump();
    EXPECT_TRUE(portal_.keys.empty());
}

}  // namespace
