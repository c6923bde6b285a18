#include "dictation/DictationController.h"

#include "state/AppSettings.h"
#include "state/Database.h"
#include "state/Secrets.h"
#include "platform/NotificationCenter.h"
#include "support/DictationFakes.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>

namespace {

using State = DictationController::State;

class DictationControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        build();
        QObject::connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, &historyListener,
                         [this](const std::string& name) { historyPosts += name == "wendaro.historyChanged"; });
    }
    // The controller with fresh fakes, storing its history in `history` (the shared store if null).
    void build(Database* history = nullptr) {
        states.clear();
        active.clear();
        DictationController::Parts parts;
        parts.history = history;
        auto r = std::make_unique<test::FakeRecorder>();
        auto t = std::make_unique<test::FakeTranscriber>();
        auto e = std::make_unique<test::FakeEnhancer>();
        auto i = std::make_unique<test::FakeInjector>();
        auto w = std::make_unique<test::FakeWidget>();
        recorder = r.get();
        transcriber = t.get();
        enhancer = e.get();
        injector = i.get();
        widget = w.get();
        parts.recorder = std::move(r);
        parts.transcriber = std::move(t);
        parts.enhancer = std::move(e);
        parts.injector = std::move(i);
        parts.widget = std::move(w);
        controller = std::make_unique<DictationController>(std::move(parts));
        controller->onStateChange = [this](State s) { states.push_back(s); };
        controller->recordingActiveChanged = [this](bool on) { active.push_back(on); };
    }
    void TearDown() override {
        controller.reset();
    }

    void dictate(double finishAfter = 1.0) {
        controller->startRecording();
        clock().advance(finishAfter);
        controller->finishRecording();
    }
    platform::FakeScheduler& clock() { return test::fakes().scheduler; }
    const std::vector<std::string>& sounds() { return test::fakes().sounds.played; }

    test::FakeRecorder* recorder;
    test::FakeTranscriber* transcriber;
    test::FakeEnhancer* enhancer;
    test::FakeInjector* injector;
    test::FakeWidget* widget;
    std::unique_ptr<DictationController> controller;
    std::vector<State> states;
    std::vector<bool> active;
    int historyPosts = 0;
    QObject historyListener;
};

TEST_F(DictationControllerTest, AFullDictationPastesStoresAndReportsSuccess) {
    dictate();
    EXPECT_EQ(controller->state(), State::processing);
    clock().advance(1);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
    EXPECT_EQ(widget->events, (std::vector<std::string>{"recording", "processing", "flash:Inserted ✓:1"}));
    EXPECT_EQ(sounds(), (std::vector<std::string>{"Pop", "Tink"}));
    EXPECT_EQ(historyPosts, 1);
    EXPECT_EQ(states, (std::vector<State>{State::recording, State::processing, State::idle}));
    EXPECT_EQ(active, (std::vector<bool>{true, false}));
}

TEST_F(DictationControllerTest, APushToTalkPressWhileProcessingStartsNothingButSaysSoAtOnce) {
    dictate();
    controller->pushToTalkDown();
    EXPECT_EQ(controller->state(), State::processing);
    EXPECT_EQ(widget->last(), "still transcribing");
    EXPECT_EQ(sounds(), (std::vector<std::string>{"Pop", "Basso"}));
    controller->pushToTalkUp(2.0);
    clock().advance(1);
    EXPECT_EQ(recorder->starts, 1);
    EXPECT_EQ(widget->last(), "flash:Inserted ✓:1");
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
}

TEST_F(DictationControllerTest, AMicrophoneThatGoesAwayEndsTheRecordingWithWhatWasCaptured) {
    controller->startRecording();
    clock().advance(1);
    ASSERT_TRUE(recorder->onSourceLost);
    recorder->onSourceLost();
    EXPECT_EQ(recorder->stops, 1);
    EXPECT_EQ(controller->state(), State::processing);
    EXPECT_EQ(widget->last(), "flash:Mic unavailable:0");
    EXPECT_EQ(sounds(), (std::vector<std::string>{"Pop", "Basso"}));
    controller->pushToTalkUp(1.0);  // the key the user still held
    clock().advance(1);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
    EXPECT_EQ(widget->last(), "flash:Inserted ✓:1");

    recorder->onSourceLost();  // late: nothing runs any more
    EXPECT_EQ(recorder->stops, 1);
}

TEST_F(DictationControllerTest, TheLanguageIsReadWhenTheRecordingStops) {
    controller->startRecording();
    AppSettings::shared().setLanguage("uk");
    controller->finishRecording();
    clock().advance(1);
    EXPECT_EQ(transcriber->langs, std::vector<std::string>{"uk"});
}

TEST_F(DictationControllerTest, RecordingsUnderFourTenthsOfASecondAreDroppedSilently) {
    recorder->wavBytes = 12843;
    dictate();
    clock().advance(1);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(widget->last(), "hide");
    EXPECT_TRUE(transcriber->langs.empty());
    EXPECT_EQ(sounds(), std::vector<std::string>{"Pop"});

    recorder->wavBytes = 12844;
    dictate();
    EXPECT_EQ(controller->state(), State::processing);
}

TEST_F(DictationControllerTest, FailuresEndIdleWithOneMessage) {
    recorder->failStart = true;
    controller->startRecording();
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(widget->last(), "flash:Mic unavailable:0");
    EXPECT_EQ(sounds().back(), "Basso");
    EXPECT_TRUE(states.empty());

    recorder->failStart = false;
    transcriber->fail = true;
    dictate();
    clock().advance(1);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(widget->last(), "flash:Transcription failed:0");
    EXPECT_EQ(sounds().back(), "Basso");
    EXPECT_EQ(historyPosts, 0);

    transcriber->fail = false;
    transcriber->result.text = "  \n\t ";
    dictate();
    clock().advance(1);
    EXPECT_EQ(widget->last(), "flash:No speech detected:0");
    EXPECT_EQ(sounds().back(), "Pop");  // no sound for an empty transcript
    EXPECT_EQ(historyPosts, 0);
    EXPECT_TRUE(injector->pasted.empty());

    // Spaces other than ASCII ones are white space too: no-break, ideographic, line separator.
    transcriber->result.text = "\u00A0\u3000\u2028 ";
    dictate();
    clock().advance(1);
    EXPECT_EQ(widget->last(), "flash:No speech detected:0");
    EXPECT_EQ(historyPosts, 0);
    EXPECT_TRUE(injector->pasted.empty());

    transcriber->result.text = "\u00A0Привіт, світе\u3000\n";
    dictate();
    clock().advance(1);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"Привіт, світе"});
}

TEST_F(DictationControllerTest, AnUnreachableRouteCancelsOnlyARecordingStillRunning) {
    transcriber->healthy = false;
    controller->startRecording();
    clock().advance(0.1);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(recorder->cancels, 1);
    EXPECT_EQ(widget->events, (std::vector<std::string>{"recording", "hide", "flash:Whisper server offline:0"}));
    EXPECT_EQ(sounds(), (std::vector<std::string>{"Pop", "Basso"}));

    // Stopped before the check answered: the answer changes nothing.
    widget->events.clear();
    controller->startRecording();
    controller->finishRecording();
    clock().advance(0.1);
    EXPECT_EQ(recorder->cancels, 1);
    EXPECT_EQ(widget->events, (std::vector<std::string>{"recording", "processing"}));
}

TEST_F(DictationControllerTest, WordsAreCountedAtSpacesOnly) {
    EXPECT_EQ(DictationController::wordCount("one  two\nthree"), 2);
    EXPECT_EQ(DictationController::wordCount(""), 0);
    EXPECT_EQ(DictationController::wordCount(" a b  c "), 3);
}

TEST_F(DictationControllerTest, CopyOnlyAndUntrustedOutputs) {
    AppSettings::shared().setCopyInsteadOfTyping(true);
    test::fakes().accessibility.trusted = false;
    dictate();
    clock().advance(1);
    EXPECT_TRUE(injector->pasted.empty());
    EXPECT_EQ(test::fakes().pasteboard.string(), "hello world");
    EXPECT_EQ(widget->last(), "flash:Copied ✓:1");
    EXPECT_EQ(sounds().back(), "Tink");
    EXPECT_EQ(test::fakes().accessibility.prompts, 0);

    AppSettings::shared().setCopyInsteadOfTyping(false);
    for (int i = 0; i < 3; ++i) {
        dictate();
        clock().advance(1);
        EXPECT_EQ(widget->last(), "flash:Enable Accessibility — copied:0");
        EXPECT_EQ(sounds().back(), "Basso");
    }
    EXPECT_TRUE(injector->pasted.empty());
    EXPECT_EQ(test::fakes().accessibility.prompts, 1);
    EXPECT_EQ(test::fakes().workspace.opened,
              std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
}

TEST_F(DictationControllerTest, APasteWhoseChordCannotBeSentIsToldAsCopiedNeverInserted) {
    injector->chordSent = false;
    dictate();
    clock().advance(1);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
    EXPECT_EQ(widget->last(), "flash:Copied — press Ctrl+V to paste:0");
    EXPECT_EQ(sounds().back(), "Basso");
    for (const auto& e : widget->events) EXPECT_EQ(e.find("Inserted"), std::string::npos) << e;
}

TEST_F(DictationControllerTest, AHistoryRowTheStoreCannotTakeStillPastesAndEveryDictationSaysSo) {
    QTemporaryDir dir;
    Database store(dir.path().toStdString());
    build(&store);
    sqlite3* other = nullptr;
    sqlite3_open(store.path().c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    for (int i = 0; i < 2; ++i) {
        dictate();
        clock().advance(1);
    }
    EXPECT_EQ(injector->pasted, (std::vector<std::string>{"hello world", "hello world"}));
    EXPECT_EQ(widget->events, (std::vector<std::string>{"recording", "processing", "flash:Inserted — history not saved:0",
                                                        "recording", "processing", "flash:Inserted — history not saved:0"}))
        << "told at every dictation while rows wait";
    EXPECT_EQ(sounds().back(), "Tink");
    EXPECT_EQ(historyPosts, 0);

    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    clock().advance(5);
    EXPECT_EQ(historyPosts, 1) << "the kept rows are announced when they land";
    EXPECT_EQ(store.stats().count, 2);
    dictate();
    clock().advance(1);
    EXPECT_EQ(historyPosts, 2);
    EXPECT_EQ(store.stats().count, 3);
}

TEST_F(DictationControllerTest, SoundsFollowTheSettingAtTheMomentOfPlaying) {
    AppSettings::shared().setSounds(false);
    dictate();
    clock().advance(1);
    EXPECT_TRUE(sounds().empty());
}

TEST_F(DictationControllerTest, TheRewriteRunsWithinItsBudget) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    Secrets::set(std::string("gsk"), "groqApiKey");
    dictate();
    clock().advance(1);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"[hello world]"});
    EXPECT_EQ(widget->events[2], "enhancing");
    EXPECT_EQ(enhancer->instructions.size(), 1u);

    // Slower than 2.5 s: the unrewritten text goes out at 2.5 s.
    enhancer->delay = 3;
    injector->pasted.clear();
    dictate();
    clock().advance(0.2 + 2.4);
    EXPECT_TRUE(injector->pasted.empty());
    clock().advance(0.2);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
    clock().advance(5);
    EXPECT_EQ(injector->pasted.size(), 1u);
}

TEST_F(DictationControllerTest, WithoutAKeyOrAccountTheTextIsNotRewritten) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    dictate();
    clock().advance(1);
    EXPECT_EQ(injector->pasted, std::vector<std::string>{"hello world"});
    for (const auto& e : widget->events) EXPECT_NE(e, "enhancing");
}

TEST_F(DictationControllerTest, TheInstructionFollowsTheMode) {
    AppSettings::shared().setAiEnhanceEnabled(true);
    Secrets::set(std::string("gsk"), "groqApiKey");
    AppSettings::shared().setEnhanceMode("custom");
    AppSettings::shared().setCustomEnhanceInstruction("Make it rhyme.");
    dictate();
    clock().advance(2);
    AppSettings::shared().setCustomEnhanceInstruction("");
    dictate();
    clock().advance(2);
    AppSettings::shared().setEnhanceMode("no-such-mode");
    dictate();
    clock().advance(2);
    ASSERT_EQ(enhancer->instructions.size(), 3u);
    EXPECT_EQ(enhancer->instructions[0], "Make it rhyme.");
    const std::string cleanup =
        "Fix grammar, punctuation and capitalization. Remove filler words, false starts and repetitions. Do not "
        "change the meaning or add anything.";
    EXPECT_EQ(enhancer->instructions[1], cleanup);
    EXPECT_EQ(enhancer->instructions[2], cleanup);
}

}  // namespace
