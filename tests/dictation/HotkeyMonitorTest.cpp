// The key monitor's rules, driven by hand-made key events and a fake clock.
#include "dictation/HotkeyMonitor.h"

#include "state/AppSettings.h"
#include "support/FakeEscSwallow.h"
#include "support/FakeKeyEvents.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using platform::KeyScope;
namespace Flag = platform::KeyFlag;
namespace Code = platform::KeyCode;

class HotkeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        monitor = std::make_unique<HotkeyMonitor>(events, swallow);
        monitor->onFnDown = [this] { log.push_back("down"); };
        monitor->onFnUp = [this](double held) {
            log.push_back("up");
            helds.push_back(held);
        };
        monitor->onKeyDownDuringHold = [this] { log.push_back("other"); };
        monitor->onCancel = [this] { log.push_back("esc"); };
        monitor->onCancelKey = [this] { log.push_back("cancelKey"); };
        monitor->start();
    }
    void advance(double s) { test::fakes().scheduler.advance(s); }
    AppSettings& settings() { return AppSettings::shared(); }

    test::FakeKeyEvents events;
    test::FakeEscSwallow swallow;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::vector<std::string> log;
    std::vector<double> helds;
};

using Log = std::vector<std::string>;

TEST_F(HotkeyMonitorTest, InstallsGlobalAndLocalMonitorsOnce) {
    EXPECT_EQ(events.monitors.size(), 4u);
    monitor->start();
    EXPECT_EQ(events.monitors.size(), 4u);
    monitor.reset();
    EXPECT_TRUE(events.monitors.empty());
}

TEST_F(HotkeyMonitorTest, PushToTalkHoldIsTimedFromTheFirstDownAndIgnoresRepeats) {
    // Default push-to-talk key: Fn (63, the function flag).
    events.flags(Code::function, Flag::function);
    advance(0.2);
    // Repeats of the same key, and the flag still on, must not restart the hold.
    events.flags(Code::function, Flag::function);
    events.flags(Code::function, Flag::function | Flag::shift, KeyScope::local);
    advance(0.3);
    // Another modifier changing while held is not the push-to-talk key.
    events.flags(Code::leftShift, Flag::function);
    events.flags(Code::function, 0);
    EXPECT_EQ(log, (Log{"down", "up"}));
    ASSERT_EQ(helds.size(), 1u);
    EXPECT_DOUBLE_EQ(helds[0], 0.5);

    // A release with no press seen does nothing; the next press starts a new hold.
    events.flags(Code::function, 0);
    events.flags(Code::function, Flag::function);
    advance(0.1);
    events.flags(Code::function, 0);
    EXPECT_EQ(log, (Log{"down", "up", "down", "up"}));
    EXPECT_DOUBLE_EQ(helds[1], 0.1);
}

TEST_F(HotkeyMonitorTest, PushToTalkKeyAndFlagFollowTheSettingsAtEveryEvent) {
    settings().setPttKeyCode(Code::rightControl);
    events.flags(Code::function, Flag::function);  // Fn is no longer the key
    EXPECT_TRUE(log.empty());
    events.flags(Code::rightControl, Flag::control);
    EXPECT_EQ(log, (Log{"down"}));
    // Switched while held: the old key's release no longer counts, the new key does.
    settings().setPttKeyCode(Code::rightOption);
    settings().setCancelKeyCode(Code::rightCommand);
    events.flags(Code::rightControl, 0);
    EXPECT_EQ(log, (Log{"down"}));
    events.flags(Code::rightOption, 0);
    EXPECT_EQ(log, (Log{"down", "up"}));

    // A stored code that is no supported key still matches its own code, with the function flag.
    settings().setPttKeyCode(99);
    events.flags(99, Flag::control);
    EXPECT_EQ(log.size(), 2u);
    events.flags(99, Flag::function);
    EXPECT_EQ(log, (Log{"down", "up", "down"}));
    EXPECT_EQ(HotkeyMonitor::pttFlag(), Flag::function);
}

TEST_F(HotkeyMonitorTest, CancelKeyFiresOnceUntilReleasedAndIsIgnoredWhenItIsThePushToTalkKey) {
    // Defaults: push-to-talk Fn, cancel Right Command.
    events.flags(Code::rightCommand, Flag::command);
    events.flags(Code::rightCommand, Flag::command);
    events.flags(Code::rightCommand, Flag::command | Flag::shift);
    EXPECT_EQ(log, (Log{"cancelKey"}));
    events.flags(Code::rightCommand, 0);
    events.flags(Code::rightCommand, Flag::command);
    EXPECT_EQ(log, (Log{"cancelKey", "cancelKey"}));
    events.flags(Code::rightCommand, 0);

    // Both set to 54: the key works as push-to-talk only.
    settings().setPttKeyCode(Code::rightCommand);
    EXPECT_EQ(HotkeyMonitor::effectiveCancelKeyCode(), 0);
    log.clear();
    events.flags(Code::rightCommand, Flag::command);
    events.flags(Code::rightCommand, 0);
    EXPECT_EQ(log, (Log{"down", "up"}));
}

TEST_F(HotkeyMonitorTest, CancelCodeOfNoneOrOfAnUnsupportedKeyNeverFires) {
    settings().setPttKeyCode(Code::rightControl);
    settings().setCancelKeyCode(0);
    const std::uint64_t all = Flag::function | Flag::command | Flag::option | Flag::control;
    for (int code : {0, 53, 54, 61, 63}) {
        events.flags(code, all);
        events.flags(code, 0);
    }
    // Left Command is no supported key: as cancel code it never fires and its events pass on.
    settings().setCancelKeyCode(Code::leftCommand);
    events.flags(Code::leftCommand, Flag::command);
    events.flags(Code::leftCommand, 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(HotkeyMonitorTest, KeyPressesCancelOnEscAndDiscardOnlyDuringAHoldElsewhere) {
    events.keyDown(Code::escape);
    events.keyDown(Code::escape, KeyScope::local);
    events.keyDown(Code::unnamedBase + 38);  // not held: nothing
    EXPECT_EQ(log, (Log{"esc", "esc"}));

    log.clear();
    events.flags(Code::function, Flag::function);
    events.keyDown(Code::unnamedBase + 38, KeyScope::local);  // typed into our own window
    events.keyDown(Code::unnamedBase + 38);
    events.keyDown(Code::unnamedBase + 38, KeyScope::global, true);
    events.keyDown(Code::escape);
    events.flags(Code::function, 0);
    events.keyDown(Code::unnamedBase + 38);
    EXPECT_EQ(log, (Log{"down", "other", "other", "esc", "up"}));
}

TEST_F(HotkeyMonitorTest, EscSwallowPostsCancelOnceForEachPressAndIsReleased) {
    monitor->setEscSwallow(true);
    monitor->setEscSwallow(true);
    EXPECT_EQ(swallow.enables, 1);
    ASSERT_TRUE(swallow.isEnabled());

    // A swallowed press: the swallow reports it, on the main queue; the global key event of the
    // same press must not cancel a second time.
    ASSERT_TRUE(swallow.pressEscape());
    events.keyDown(Code::escape);
    EXPECT_TRUE(log.empty());
    test::fakes().scheduler.runPending();
    EXPECT_EQ(log, (Log{"esc"}));

    // Our own window has the focus: Esc reaches it and the local monitor reports it.
    log.clear();
    swallow.ownWindowFocused = true;
    EXPECT_FALSE(swallow.pressEscape());
    events.keyDown(Code::escape, KeyScope::local);
    EXPECT_EQ(log, (Log{"esc"}));
    swallow.ownWindowFocused = false;

    monitor->setEscSwallow(false);
    monitor->setEscSwallow(false);
    EXPECT_EQ(swallow.disables, 1);
    EXPECT_FALSE(swallow.isEnabled());
    log.clear();
    events.keyDown(Code::escape);
    EXPECT_EQ(log, (Log{"esc"}));
}

TEST_F(HotkeyMonitorTest, FailedSwallowDoesNothingMoreAndEscStillCancels) {
    swallow.grabFails = true;
    monitor->setEscSwallow(true);
    EXPECT_FALSE(swallow.isEnabled());
    events.keyDown(Code::escape);
    EXPECT_EQ(log, (Log{"esc"}));
    monitor->setEscSwallow(false);
    EXPECT_EQ(swallow.disables, 0);
    // A later attempt may succeed.
    swallow.grabFails = false;
    monitor->setEscSwallow(true);
    EXPECT_TRUE(swallow.isEnabled());
}

TEST_F(HotkeyMonitorTest, NothingReachesAMonitorThatIsGone) {
    monitor->setEscSwallow(true);
    ASSERT_TRUE(swallow.pressEscape());  // cancel posted, not yet run
    monitor.reset();
    EXPECT_FALSE(swallow.isEnabled());
    test::fakes().scheduler.runPending();
    EXPECT_TRUE(log.empty());
}

TEST_F(HotkeyMonitorTest, WithoutKeyEventsNoMonitorIsKept) {
    test::FakeKeyEvents none;
    none.available = false;
    HotkeyMonitor idle(none, swallow);
    idle.start();
    EXPECT_TRUE(none.monitors.empty());
    // Without installed services the default monitor's calls do nothing.
    HotkeyMonitor unwired;
    unwired.start();
    unwired.setEscSwallow(true);
    unwired.setEscSwallow(false);
}

// The key commands a desktop's binding sends: the same rules as the key itself.
TEST_F(HotkeyMonitorTest, KeyCommandsFollowTheKeysRules) {
    using platform::ControlCommand;
    monitor->handleCommand(ControlCommand::pttUp);  // no press seen: nothing
    EXPECT_TRUE(log.empty());

    monitor->handleCommand(ControlCommand::pttDown);
    advance(0.3);
    monitor->handleCommand(ControlCommand::pttDown);  // a second press (a repeat) keeps the hold
    advance(0.4);
    events.keyDown(Code::unnamedBase + 38);  // another key during the hold, as with the key
    monitor->handleCommand(ControlCommand::pttUp);
    monitor->handleCommand(ControlCommand::pttUp);
    EXPECT_EQ(log, (Log{"down", "other", "up"}));
    ASSERT_EQ(helds.size(), 1u);
    EXPECT_DOUBLE_EQ(helds[0], 0.7);

    // A toggle is a tap; while the key is held it means nothing. Cancel is Esc.
    log.clear();
    monitor->handleCommand(ControlCommand::toggle);
    events.flags(Code::function, Flag::function);
    monitor->handleCommand(ControlCommand::toggle);
    advance(0.2);
    events.flags(Code::function, 0);
    monitor->handleCommand(ControlCommand::cancel);
    monitor->handleCommand(ControlCommand::reopen);
    EXPECT_EQ(log, (Log{"down", "up", "down", "up", "esc"}));
    EXPECT_DOUBLE_EQ(helds[1], 0.0);
    EXPECT_DOUBLE_EQ(helds[2], 0.2);
}

}  // namespace
