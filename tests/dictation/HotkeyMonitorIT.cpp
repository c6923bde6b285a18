// The key monitor on a real X display: keys pressed through XTest while another program's window
// (a probe that logs every key it receives) has the focus, or while one of our own windows has it.
// A small stand-in of the app delegate's key rules turns the callbacks into recordings.
#include "dictation/HotkeyMonitor.h"

#include "state/AppSettings.h"
#include "platform/MainQueue.h"
#include "platform/x11/X11EscSwallow.h"
#include "platform/x11/X11KeyEvents.h"
#include "platform/x11/X11KeyGrab.h"
#include "support/DesktopTestMain.h"
#include "support/TestEnvironment.h"
#include "support/XTestKeyboard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QThread>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

namespace Code = platform::KeyCode;

// The delegate's rules: a hold of 0.5 s or more stops on release, a shorter tap keeps recording
// until the next press, another key during the hold discards silently, Esc and the cancel key
// cancel with "Cancelled". Recording on/off switches the Esc swallow through the main queue.
struct DelegateRules {
    enum class State { idle, recording };

    explicit DelegateRules(HotkeyMonitor& monitor) : hotkey(monitor) {
        hotkey.onFnDown = [this] {
            if (state == State::idle) {
                pressStartedRecording = true;
                ++started;
                setState(State::recording);
            } else {
                stopHandledByPress = true;
                ++finished;
                setState(State::idle);
            }
        };
        hotkey.onFnUp = [this](double held) {
            helds.push_back(held);
            if (stopHandledByPress) {
                stopHandledByPress = false;
            } else if (pressStartedRecording) {
                pressStartedRecording = false;
                if (state == State::recording && held >= 0.5) {
                    ++finished;
                    setState(State::idle);
                }
            }
        };
        hotkey.onKeyDownDuringHold = [this] {
            if (pressStartedRecording && state == State::recording) {
                pressStartedRecording = false;
                ++discarded;
                setState(State::idle);
            }
        };
        auto cancel = [this] {
            if (state != State::recording) return;
            pressStartedRecording = false;
            ++discarded;
            setState(State::idle);
            messages.push_back("Cancelled");
        };
        hotkey.onCancel = [this, cancel] {
            ++escapes;
            cancel();
        };
        hotkey.onCancelKey = [this, cancel] {
            ++cancelKeys;
            cancel();
        };
    }

    void setState(State next) {
        const bool was = state == State::recording;
        state = next;
        const bool now = state == State::recording;
        if (was != now) platform::MainQueue::post([this, now] { hotkey.setEscSwallow(now); });
    }
    bool recording() const { return state == State::recording; }

    HotkeyMonitor& hotkey;
    State state = State::idle;
    bool pressStartedRecording = false;
    bool stopHandledByPress = false;
    int started = 0, finished = 0, discarded = 0, escapes = 0, cancelKeys = 0;
    std::vector<double> helds;
    std::vector<std::string> messages;
};

using Lines = std::vector<std::string>;

bool pumpUntil(const std::function<bool()>& done, double seconds = 5) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        test::fakes().scheduler.runPending();
        QThread::usleep(1000);
    }
    return true;
}

class HotkeyMonitorIT : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        probeLog_ = test::desktop().home() + "/key-probe.log";
        test::desktop().spawn({TOVRIN_KEY_PROBE, probeLog_});
        ASSERT_TRUE(pumpUntil([] { return !readProbe().empty(); }, 10)) << "key probe did not start";
        std::istringstream first(readProbe().front());
        std::string word;
        first >> word >> probeWindow_;
    }

    void SetUp() override {
        test::reset();
        ASSERT_TRUE(keyboard.ok());
        ASSERT_NE(probeWindow_, 0ul);
        focusProbe();
        ASSERT_TRUE(events.open());
        // Sees every key event, whoever has the focus: the marker of settle().
        for (auto scope : {platform::KeyScope::global, platform::KeyScope::local})
            events.addFlagsChangedMonitor(scope, [this](const platform::FlagsChangedEvent& e) {
                if (e.keyCode == Code::leftShift && !(e.flags & platform::KeyFlag::shift)) ++markers;
            });
        monitor = std::make_unique<HotkeyMonitor>(events, swallow, &grab);
        rules = std::make_unique<DelegateRules>(*monitor);
        monitor->start();
    }

    void TearDown() override {
        for (const char* key : {"Control_R", "Control_L", "Super_R", "Alt_R", "Alt_L", "Shift_R", "ISO_Level3_Shift", "Menu",
                                "Escape", "a"})
            keyboard.release(key);
        settle();
    }

    static Lines readProbe() {
        Lines lines;
        std::ifstream in(probeLog_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // What the probe received since the last call.
    Lines probeSinceLast() {
        Lines all = readProbe();
        Lines fresh(all.begin() + std::min(probeSeen_, all.size()), all.end());
        probeSeen_ = all.size();
        return fresh;
    }

    static bool has(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // Waits until everything sent so far went through the key events (and the probe, when it has
    // the focus): a left Shift tap arrives after all of it.
    void settle() {
        const int before = markers;
        const auto probeMarkers = [] {
            int n = 0;
            for (const auto& l : readProbe()) n += l == "release Shift_L";
            return n;
        };
        const int probeBefore = probeMarkers();
        const bool probeFocused = !QGuiApplication::focusWindow();
        keyboard.tap("Shift_L");
        ASSERT_TRUE(pumpUntil([&] { return markers > before; })) << "marker key never arrived";
        // A marker sent right after a press of a held key may still have gone to the key grab,
        // before it gave the keyboard back: send another.
        for (int i = 0; probeFocused && i < 20 && !pumpUntil([&] { return probeMarkers() > probeBefore; }, 0.25); ++i)
            keyboard.tap("Shift_L");
        if (probeFocused) ASSERT_GT(probeMarkers(), probeBefore) << "marker key never reached the probe; last: " << (readProbe().empty() ? "" : readProbe().back()) << " lines " << readProbe().size();
        // Let posted work (the swallow switching) run.
        pumpUntil([] { return test::fakes().scheduler.pendingCount() == 0; }, 1);
    }

    void focusProbe() {
        keyboard.focus(probeWindow_);
        ASSERT_TRUE(pumpUntil([] { return QGuiApplication::focusWindow() == nullptr; }));
    }

    void press(const std::string& key) {
        ASSERT_TRUE(keyboard.press(key)) << key;
        settle();
    }
    void release(const std::string& key) {
        ASSERT_TRUE(keyboard.release(key)) << key;
        settle();
    }
    void hold(const std::string& key, double seconds) {
        press(key);
        test::fakes().scheduler.advance(seconds);
        release(key);
    }
    void startHandsFree(const std::string& key) {
        hold(key, 0.1);
        ASSERT_TRUE(rules->recording());
    }
    AppSettings& settings() { return AppSettings::shared(); }

    static inline std::string probeLog_;
    static inline unsigned long probeWindow_ = 0;
    size_t probeSeen_ = 0;

    test::XTestKeyboard keyboard;
    platform::X11KeyEvents events;
    platform::X11EscSwallow swallow;
    platform::X11KeyGrab grab;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::unique_ptr<DelegateRules> rules;
    int markers = 0;
};

TEST_F(HotkeyMonitorIT, ShortTapKeepsRecordingUntilTheNextPressAndAHoldStopsOnRelease) {
    settings().setPttKeyCode(Code::rightControl);

    hold("Control_R", 0.3);
    EXPECT_EQ(rules->started, 1);
    EXPECT_TRUE(rules->recording());
    ASSERT_EQ(rules->helds.size(), 1u);
    EXPECT_DOUBLE_EQ(rules->helds[0], 0.3);

    press("Control_R");  // the next press stops it on key-down
    EXPECT_EQ(rules->finished, 1);
    EXPECT_FALSE(rules->recording());
    test::fakes().scheduler.advance(0.7);
    release("Control_R");  // and its release does nothing
    EXPECT_EQ(rules->started, 1);
    EXPECT_EQ(rules->finished, 1);

    hold("Control_R", 0.6);
    EXPECT_EQ(rules->started, 2);
    EXPECT_EQ(rules->finished, 2);
    EXPECT_FALSE(rules->recording());
    EXPECT_TRUE(rules->messages.empty());
}

TEST_F(HotkeyMonitorIT, AnotherKeyDuringTheHoldDiscardsSilently) {
    settings().setPttKeyCode(Code::rightControl);
    press("Control_R");
    ASSERT_TRUE(rules->recording());
    keyboard.tap("a");
    settle();
    EXPECT_FALSE(rules->recording());
    EXPECT_EQ(rules->discarded, 1);
    EXPECT_EQ(rules->finished, 0);
    test::fakes().scheduler.advance(1.0);
    release("Control_R");
    EXPECT_EQ(rules->started, 1);
    EXPECT_EQ(rules->finished, 0);
    EXPECT_TRUE(rules->messages.empty());
}

TEST_F(HotkeyMonitorIT, AKeymapChangeDuringAHoldEndsItAsARelease) {
    settings().setPttKeyCode(Code::rightControl);
    const int rightControl = keyboard.keycodeOf("Control_R");
    ASSERT_NE(rightControl, 0);
    press("Control_R");
    ASSERT_TRUE(rules->recording());
    test::fakes().scheduler.advance(0.8);

    // Right Ctrl and Right Super trade places while the key is down.
    struct RestoreKeymap {
        ~RestoreKeymap() { test::desktop().run({"setxkbmap", "-option", ""}); }
    } restore;
    ASSERT_EQ(test::desktop().run({"setxkbmap", "-option", "ctrl:swap_rwin_rctl"}), 0);
    EXPECT_TRUE(pumpUntil([&] { return rules->finished == 1; })) << "the hold outlived the keymap change";
    ASSERT_EQ(rules->helds.size(), 1u);
    EXPECT_DOUBLE_EQ(rules->helds[0], 0.8);

    // The key that went down comes up (it says Right Super now): nothing more happens.
    keyboard.releaseKeycode(rightControl);
    settle();
    EXPECT_EQ(rules->helds.size(), 1u);
    EXPECT_EQ(rules->started, 1);
    EXPECT_EQ(rules->cancelKeys, 0);
    EXPECT_FALSE(rules->recording());
}

TEST_F(HotkeyMonitorIT, AutoRepeatOfTheHeldKeyDoesNotRestartTheHold) {
    // Fn: the Menu key stands in for it on this keymap.
    ASSERT_EQ(settings().pttKeyCode(), Code::function);
    press("Menu");
    test::fakes().scheduler.advance(0.3);
    press("Menu");  // the key is still down: a repeat
    press("Menu");
    test::fakes().scheduler.advance(0.3);
    release("Menu");
    EXPECT_EQ(rules->started, 1);
    ASSERT_EQ(rules->helds.size(), 1u);
    EXPECT_DOUBLE_EQ(rules->helds[0], 0.6);
    EXPECT_EQ(rules->finished, 1);  // a 0.6 s hold: stopped on release
}

TEST_F(HotkeyMonitorIT, CancelKeyFiresOnceWhileHeldAndIsIgnoredWhenItIsThePushToTalkKey) {
    settings().setPttKeyCode(Code::rightControl);
    settings().setCancelKeyCode(Code::rightOption);
    startHandsFree("Control_R");
    press("Alt_R");
    press("Alt_R");  // held: no second report
    EXPECT_EQ(rules->cancelKeys, 1);
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});
    EXPECT_FALSE(rules->recording());
    release("Alt_R");
    press("Alt_R");
    release("Alt_R");
    EXPECT_EQ(rules->cancelKeys, 2);

    // Both 54: Right Command is the push-to-talk key and nothing else.
    settings().setPttKeyCode(Code::rightCommand);
    settings().setCancelKeyCode(Code::rightCommand);
    hold("Super_R", 0.6);
    EXPECT_EQ(rules->cancelKeys, 2);
    EXPECT_EQ(rules->started, 2);
    EXPECT_EQ(rules->finished, 1);
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});
}

TEST_F(HotkeyMonitorIT, CancelCodeOfNoneNeverFires) {
    settings().setPttKeyCode(Code::rightControl);
    settings().setCancelKeyCode(0);
    startHandsFree("Control_R");
    for (const char* key : {"Super_R", "Alt_R", "Menu"}) {
        press(key);
        release(key);
    }
    EXPECT_EQ(rules->cancelKeys, 0);
    EXPECT_TRUE(rules->recording());
}

TEST_F(HotkeyMonitorIT, SwitchingThePushToTalkKeyAppliesToTheNextKey) {
    settings().setPttKeyCode(Code::rightControl);
    hold("Control_R", 0.6);
    EXPECT_EQ(rules->started, 1);

    settings().setPttKeyCode(Code::rightOption);
    hold("Control_R", 0.6);
    EXPECT_EQ(rules->started, 1);
    hold("Alt_R", 0.6);
    EXPECT_EQ(rules->started, 2);
    EXPECT_EQ(rules->finished, 2);
}

TEST_F(HotkeyMonitorIT, EscWhileRecordingIsKeptFromTheFocusedFieldAndCancels) {
    settings().setPttKeyCode(Code::rightControl);
    startHandsFree("Control_R");
    ASSERT_TRUE(swallow.isSwallowing());
    probeSinceLast();

    keyboard.tap("Escape");
    settle();
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});
    EXPECT_EQ(rules->escapes, 1);  // one press, one report
    EXPECT_FALSE(rules->recording());
    for (const auto& line : probeSinceLast()) EXPECT_EQ(line.find("Escape"), std::string::npos) << line;

    // The recording has ended: the swallow is released and the field gets Esc again.
    EXPECT_FALSE(swallow.isEnabled());
    keyboard.tap("Escape");
    settle();
    const Lines after = probeSinceLast();
    EXPECT_NE(std::find(after.begin(), after.end(), "press Escape"), after.end());
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});
}

TEST_F(HotkeyMonitorIT, EscWithThePushToTalkModifierStillHeldIsKeptFromTheFocusedFieldAndCancels) {
    // A modifier push-to-talk key held for the recording sets its bit on the Esc press.
    for (const auto& [code, key] : {std::pair{Code::rightControl, "Control_R"}, std::pair{Code::rightOption, "Alt_R"},
                                    std::pair{Code::rightCommand, "Super_R"}}) {
        settings().setPttKeyCode(code);
        rules->messages.clear();
        press(key);
        ASSERT_TRUE(rules->recording()) << key;
        ASSERT_TRUE(swallow.isSwallowing()) << key;
        probeSinceLast();

        keyboard.tap("Escape");
        settle();
        EXPECT_EQ(rules->messages, Lines{"Cancelled"}) << key;
        EXPECT_FALSE(rules->recording()) << key;
        for (const auto& line : probeSinceLast()) EXPECT_EQ(line.find("Escape"), std::string::npos) << key << ": " << line;
        release(key);
    }
}

class EscCounter : public QObject {
public:
    int escapes = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) ++escapes;
        return QObject::eventFilter(o, e);
    }
};

TEST_F(HotkeyMonitorIT, EscInOurOwnWindowCancelsAndStillReachesIt) {
    settings().setPttKeyCode(Code::rightControl);
    QLineEdit field;
    EscCounter counter;
    field.installEventFilter(&counter);
    field.show();
    field.activateWindow();
    ASSERT_TRUE(pumpUntil([&] { return field.hasFocus() && QGuiApplication::focusWindow(); }))
        << "our window did not get the focus";

    startHandsFree("Control_R");
    EXPECT_TRUE(swallow.isEnabled());
    EXPECT_FALSE(swallow.isSwallowing());
    keyboard.tap("Escape");
    settle();
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});
    EXPECT_FALSE(rules->recording());
    EXPECT_TRUE(pumpUntil([&] { return counter.escapes == 1; })) << "Esc did not reach our window";

    // Recording starts in our window, then the focus moves to another program: from then on Esc
    // is kept from it.
    startHandsFree("Control_R");
    focusProbe();
    ASSERT_TRUE(pumpUntil([&] { return swallow.isSwallowing(); }));
    probeSinceLast();
    keyboard.tap("Escape");
    settle();
    EXPECT_EQ(rules->messages, (Lines{"Cancelled", "Cancelled"}));
    for (const auto& line : probeSinceLast()) EXPECT_EQ(line.find("Escape"), std::string::npos) << line;
    EXPECT_EQ(counter.escapes, 1);
    field.hide();
}

TEST_F(HotkeyMonitorIT, EscHeldByAnotherProgramIsLeftToItAndStillCancels) {
    ASSERT_TRUE(keyboard.grabKey("Escape"));

    settings().setPttKeyCode(Code::rightControl);
    startHandsFree("Control_R");
    EXPECT_FALSE(swallow.isEnabled());
    EXPECT_FALSE(swallow.isSwallowing());
    keyboard.tap("Escape");
    settle();
    EXPECT_EQ(rules->messages, Lines{"Cancelled"});

    keyboard.ungrabKey("Escape");
    startHandsFree("Control_R");
    EXPECT_TRUE(swallow.isSwallowing());
}

TEST_F(HotkeyMonitorIT, FollowsTheKeymapForTheFnKey) {
    // A keymap with a real Fn key: Fn is that key and the Menu key is an ordinary key again.
    const int fnKey = keyboard.unusedKeycode();
    ASSERT_NE(fnKey, 0);
    ASSERT_TRUE(keyboard.bind(fnKey, "XF86Fn"));
    settle();

    probeSinceLast();
    press("Menu");
    release("Menu");
    EXPECT_EQ(rules->started, 0);
    EXPECT_TRUE(has(probeSinceLast(), "press Menu")) << "an ordinary key again, the Menu key is not held";
    keyboard.pressKeycode(fnKey);
    settle();
    EXPECT_EQ(rules->started, 1);
    keyboard.tap("Menu");  // another key during the hold
    settle();
    EXPECT_EQ(rules->discarded, 1);
    keyboard.releaseKeycode(fnKey);
    settle();

    // Without it, Menu stands in again.
    ASSERT_TRUE(keyboard.bind(fnKey, ""));
    settle();
    hold("Menu", 0.6);
    EXPECT_EQ(rules->started, 2);
    EXPECT_EQ(rules->finished, 1);
}

TEST_F(HotkeyMonitorIT, TheMenuKeyIsKeptFromEveryWindowWhileItIsOurKeyAndCountedOnce) {
    // The default push-to-talk key: Fn, the Menu key on this keymap.
    ASSERT_EQ(settings().pttKeyCode(), Code::function);
    probeSinceLast();
    press("Menu");
    test::fakes().scheduler.advance(0.6);
    release("Menu");
    EXPECT_EQ(rules->started, 1);
    EXPECT_EQ(rules->finished, 1);
    EXPECT_EQ(rules->helds, std::vector<double>{0.6}) << "one press, one hold";
    // With a modifier held too, and with Num Lock on.
    for (const char* with : {"Alt_L", "Control_L", "Num_Lock"}) {
        press(with);
        hold("Menu", 0.6);
        release(with);
        if (std::string(with) == "Num_Lock") keyboard.tap("Num_Lock"), settle();
    }
    EXPECT_EQ(rules->started, 4);
    EXPECT_FALSE(has(probeSinceLast(), "press Menu"));

    // As the cancel key it is held too; once neither key is Menu, the field gets it again.
    settings().setPttKeyCode(Code::rightControl);
    settings().setCancelKeyCode(Code::function);
    startHandsFree("Control_R");
    press("Menu");
    release("Menu");
    EXPECT_EQ(rules->cancelKeys, 1);
    EXPECT_FALSE(has(probeSinceLast(), "press Menu"));
    settings().setCancelKeyCode(Code::rightCommand);
    press("Menu");
    release("Menu");
    EXPECT_TRUE(has(probeSinceLast(), "press Menu"));

    // Held again as the push-to-talk key: the window sees neither its press nor its release.
    settings().setPttKeyCode(Code::function);
    ASSERT_TRUE(keyboard.press("Menu"));
    pumpUntil([] { return false; }, 0.3);
    release("Menu");
    const Lines seen = probeSinceLast();
    EXPECT_FALSE(has(seen, "press Menu"));
    EXPECT_FALSE(has(seen, "release Menu"));
    // Let go when the monitor goes.
    rules.reset();
    monitor.reset();
    press("Menu");
    release("Menu");
    EXPECT_TRUE(has(probeSinceLast(), "press Menu"));
}

TEST_F(HotkeyMonitorIT, AMenuKeyHeldByAnotherProgramIsLeftToItAndStillWorks) {
    rules.reset();
    monitor.reset();
    ASSERT_TRUE(keyboard.grabKey("Menu"));
    monitor = std::make_unique<HotkeyMonitor>(events, swallow, &grab);
    rules = std::make_unique<DelegateRules>(*monitor);
    monitor->start();
    // While it holds the key, the other program has the whole keyboard: no marker reaches the probe.
    ASSERT_TRUE(keyboard.press("Menu"));
    EXPECT_TRUE(pumpUntil([&] { return rules->started == 1; }));
    test::fakes().scheduler.advance(0.6);
    ASSERT_TRUE(keyboard.release("Menu"));
    EXPECT_TRUE(pumpUntil([&] { return rules->finished == 1; }));
    EXPECT_EQ(rules->helds, std::vector<double>{0.6});
    keyboard.ungrabKey("Menu");
}

TEST_F(HotkeyMonitorIT, EscWithAnyModifierWhileRecordingIsKeptFromTheFocusedFieldAndCancels) {
    // Shift, AltGr (Mod5), Control with Shift, Alt with Caps Lock on, Super with Num Lock on.
    const std::vector<std::vector<std::string>> chords = {
        {"Shift_R"}, {"ISO_Level3_Shift"}, {"Shift_R", "Control_L"}, {"Caps_Lock", "Alt_L"}, {"Num_Lock", "Super_L"}};
    settings().setPttKeyCode(Code::function);
    int cancels = 0;
    for (const auto& chord : chords) {
        std::string name;
        for (const auto& key : chord) name += key + " ";
        startHandsFree("Menu");
        ASSERT_TRUE(swallow.isSwallowing()) << name;
        probeSinceLast();
        for (const auto& key : chord) ASSERT_TRUE(keyboard.press(key)) << key;
        keyboard.tap("Escape");
        for (auto key = chord.rbegin(); key != chord.rend(); ++key) keyboard.release(*key);
        settle();
        // The locks are toggles: turn them off again.
        for (const auto& key : chord)
            if (key == "Caps_Lock" || key == "Num_Lock") keyboard.tap(key);
        settle();
        EXPECT_EQ(rules->escapes, ++cancels) << name << "one press, one report";
        EXPECT_FALSE(rules->recording()) << name;
        for (const auto& line : probeSinceLast()) EXPECT_EQ(line.find("Escape"), std::string::npos) << name << line;
    }
    EXPECT_EQ(rules->messages.size(), chords.size());
}

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = true}); }
