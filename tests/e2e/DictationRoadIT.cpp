// The whole road of a dictation on the headless desktop, with the program run as a new user:
// the push-to-talk key pressed through XTest, speech played into the virtual microphone, the
// text at the cursor of another program's window, the history row, the widget's message and
// the clipboard. The speech goes to the test recogniser on the fixed port, which decodes the
// test sentences exactly, so the sentence pasted is the sentence spoken.
#include "e2e/RoadFixture.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sstream>

namespace e2e {
namespace {

constexpr const char* kLocal = R"({"provider":"local","pttKeyCode":62})";

class DictationRoadIT : public RecognizerRoadTest {};

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string part;
    while (std::getline(ss, part, sep)) out.push_back(part);
    return out;
}

TEST_F(DictationRoadIT, HoldToTalkTypesTheSpokenSentenceStoresItAndGivesTheClipboardBack) {
    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    const Clip& c = clip(sentence);
    ASSERT_GT(c.seconds, 1.0);
    launch(kLocal);
    ASSERT_TRUE(road_->ownClipboard("what the user had copied"));

    const double held = holdAndSay(c);
    ASSERT_TRUE(waitForText(sentence)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));

    const auto rows = split(historyRows(), '\n');
    ASSERT_EQ(rows.size(), 1u) << historyRows();
    const auto fields = split(rows[0], '|');
    ASSERT_EQ(fields.size(), 3u) << rows[0];
    EXPECT_EQ(fields[0], sentence);
    EXPECT_EQ(fields[1], "9");
    const double seconds = std::atof(fields[2].c_str());
    EXPECT_NEAR(seconds, held, 0.1) << "the recording lasts as long as the key was held";
    EXPECT_GE(seconds, c.seconds) << "the whole clip was recorded";

    // The clipboard is the user's again once the paste is done.
    EXPECT_TRUE(waitUntil([&] { return road_->clipboard() == "what the user had copied"; }, 3, 0.1))
        << "clipboard holds: \"" << road_->clipboard() << "\"";
    EXPECT_EQ(road_->targetText(), sentence) << "pasted once";
}

TEST_F(DictationRoadIT, ATapStartsTheNextPressStopsAndTheTextLands) {
    const std::string sentence = "please send the report to my manager tomorrow";
    const Clip& c = clip(sentence);
    launch(kLocal);

    ASSERT_TRUE(keys_->press("Control_R"));
    ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
    waitUntil([] { return false; }, 0.3);
    keys_->release("Control_R");
    ASSERT_TRUE(pulse_->play(c.path));
    waitUntil([] { return false; }, 0.15);
    EXPECT_TRUE(road_->targetText().empty()) << "a tap keeps recording";
    keys_->tap("Control_R");

    ASSERT_TRUE(waitForText(sentence)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));
    EXPECT_EQ(historyCount(), 1) << historyRows();
}

TEST_F(DictationRoadIT, AnotherKeyDuringAHoldDiscardsTheRecording) {
    const Clip& c = clip("this message was typed by voice");
    launch(kLocal);
    const std::size_t logStart = road_->recognizerLog().size();

    ASSERT_TRUE(keys_->press("Control_R"));
    ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
    const pid_t player = pulse_->playAsync(c.path);
    waitUntil([] { return false; }, 0.8);
    ASSERT_TRUE(keys_->tap("Right"));  // a key that types nothing into the field
    test::PulseServer::waitProcess(player, 10);
    keys_->release("Control_R");

    waitUntil([] { return false; }, 2.0);
    EXPECT_EQ(road_->targetKeys(), "Right\n") << "the other key went where it was meant to";
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_LE(historyCount(), 0) << historyRows();
    EXPECT_EQ(road_->recognizerLog().size(), logStart) << "nothing was sent for transcription";
    EXPECT_FALSE(road_->titles().saw("Transcribing…"));
    EXPECT_FALSE(road_->titles().saw("Inserted ✓"));
}

TEST_F(DictationRoadIT, EscapeDuringARecordingCancelsAndTheWindowNeverSeesIt) {
    const Clip& c = clip("open the window and let the fresh air in");
    launch(kLocal);
    const std::size_t logStart = road_->recognizerLog().size();

    ASSERT_TRUE(keys_->press("Control_R"));
    ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
    const pid_t player = pulse_->playAsync(c.path);
    waitUntil([] { return false; }, 0.8);
    ASSERT_TRUE(keys_->tap("Escape"));
    EXPECT_TRUE(road_->titles().waitFor("Cancelled", 3));
    test::PulseServer::waitProcess(player, 10);
    keys_->release("Control_R");

    waitUntil([] { return false; }, 2.0);
    EXPECT_EQ(road_->targetKeys().find("Escape"), std::string::npos) << "keys seen: " << road_->targetKeys();
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_LE(historyCount(), 0) << historyRows();
    EXPECT_EQ(road_->recognizerLog().size(), logStart) << "nothing was sent for transcription";

    // Once the recording is over, Escape belongs to the focused window again.
    ASSERT_TRUE(keys_->tap("Escape"));
    EXPECT_TRUE(waitUntil([&] { return road_->targetKeys().find("Escape") != std::string::npos; }, 3));
}

TEST_F(DictationRoadIT, ADictionaryEntryIsAppliedOnTheWay) {
    const Clip& c = clip("we will meet at the coffee shop at noon");
    road_->freshUser(kLocal);
    ASSERT_TRUE(road_->sql("CREATE TABLE IF NOT EXISTS dictionary(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "term TEXT NOT NULL, replacement TEXT NOT NULL, enabled INTEGER NOT NULL DEFAULT 1);"
                           "INSERT INTO dictionary(term, replacement) VALUES('Noon', 'midday');"
                           "INSERT INTO dictionary(term, replacement, enabled) VALUES('coffee', 'tea', 0);"
                           "INSERT INTO dictionary(term, replacement) VALUES('shopping', 'buying');",
                           false));
    launchAsIs();

    holdAndSay(c);
    const std::string expected = "we will meet at the coffee shop at midday";
    ASSERT_TRUE(waitForText(expected)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_EQ(road_->sql("SELECT text, words FROM history").value_or(""), expected + "|9\n");
}

TEST_F(DictationRoadIT, CopyOnlyLeavesTheWindowAloneAndTheTextOnTheClipboard) {
    const std::string sentence = "this message was typed by voice";
    const Clip& c = clip(sentence);
    launch(R"({"provider":"local","pttKeyCode":62,"copyOnly":true})");
    ASSERT_TRUE(road_->ownClipboard("what the user had copied"));

    holdAndSay(c);
    ASSERT_TRUE(road_->titles().waitFor("Copied ✓", 20));
    EXPECT_TRUE(waitUntil([&] { return road_->clipboard() == sentence; }, 3, 0.1))
        << "clipboard holds: \"" << road_->clipboard() << "\"";
    waitUntil([] { return false; }, 1.0);  // longer than a paste and the clipboard's return take
    EXPECT_EQ(road_->clipboard(), sentence) << "the text stays on the clipboard";
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_EQ(road_->targetKeys(), "") << "no paste chord reached the window";
    EXPECT_EQ(historyCount(), 1) << historyRows();
}

TEST_F(DictationRoadIT, SilenceStoresNothingAndWithTheServerDownTheRecordingIsDropped) {
    launch(kLocal);

    // Nothing said: the recogniser hears nothing, nothing is typed or stored.
    ASSERT_TRUE(keys_->press("Control_R"));
    ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
    waitUntil([] { return false; }, 1.2);
    keys_->release("Control_R");
    EXPECT_TRUE(road_->titles().waitFor("No speech detected", 10));
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_LE(historyCount(), 0) << historyRows();

    // The server is gone: the recording is given up while the key is still held.
    road_->stopRecognizer();
    road_->titles().clear();
    const Clip& c = clip("this message was typed by voice");
    ASSERT_TRUE(keys_->press("Control_R"));
    EXPECT_TRUE(road_->titles().waitFor("Whisper server offline", 5));
    pulse_->play(c.path);
    keys_->release("Control_R");
    waitUntil([] { return false; }, 1.0);
    EXPECT_FALSE(road_->titles().saw("Transcribing…"));
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_LE(historyCount(), 0) << historyRows();

    // Back again, the next dictation goes through.
    ASSERT_TRUE(road_->startRecognizer());
    holdAndSay(c);
    EXPECT_TRUE(waitForText("this message was typed by voice")) << "target holds: \"" << road_->targetText() << "\"";
}

TEST_F(DictationRoadIT, APressWhileTranscribingSaysStillTranscribingAndTheTextStillLands) {
    const std::string sentence = "open the window and let the fresh air in";
    launch(kLocal);
    holdAndSay(clip(sentence));
    ASSERT_TRUE(road_->titles().waitFor("Transcribing…", 3));
    ASSERT_TRUE(keys_->press("Control_R"));
    EXPECT_TRUE(road_->titles().waitFor("Still transcribing…", 1)) << "the press went unanswered";
    waitUntil([] { return false; }, 0.6);
    keys_->release("Control_R");
    ASSERT_TRUE(waitForText(sentence)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));
    waitUntil([] { return false; }, 0.5);
    const auto titles = road_->titles().seen();
    EXPECT_EQ(std::count(titles.begin(), titles.end(), std::string("Recording")), 1) << "the press started a recording";
    EXPECT_EQ(historyCount(), 1) << historyRows();
}

TEST_F(DictationRoadIT, ADictationInFlightWhenTheProgramIsAskedToEndStillLands) {
    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    launch(kLocal);
    holdAndSay(clip(sentence));
    ASSERT_TRUE(road_->titles().waitFor("Transcribing…", 3));
    const double signalled = now();
    EXPECT_EQ(road_->quitProgram(5), 0);
    std::printf("SIGTERM during the transcription: the program ended %.2f s later\n", now() - signalled);
    EXPECT_LT(now() - signalled, 3.0) << "the program took too long to end";
    EXPECT_EQ(road_->targetText(), sentence);
    EXPECT_EQ(historyCount(), 1) << historyRows();

    // One that cannot finish in time (the recogniser stopped before the request) is named on the
    // way out, and the program still ends.
    road_->stopTarget();
    launchAsIs();
    const auto recognizers = childrenNamed(getpid(), "tovrin_sphinx_r");
    ASSERT_EQ(recognizers.size(), 1u);
    ASSERT_TRUE(keys_->press("Control_R"));
    ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
    ASSERT_TRUE(pulse_->play(clip(sentence).path));
    ::kill(recognizers[0], SIGSTOP);
    keys_->release("Control_R");
    ASSERT_TRUE(road_->titles().waitFor("Transcribing…", 3));
    const double again = now();
    EXPECT_EQ(road_->quitProgram(5), 0);
    ::kill(recognizers[0], SIGCONT);
    std::printf("SIGTERM with the transcription held up: the program ended %.2f s later\n", now() - again);
    EXPECT_LT(now() - again, 3.0) << "the program took too long to end";
    EXPECT_NE(road_->programLog().find("was still being transcribed"), std::string::npos) << road_->programLog();
}

TEST_F(DictationRoadIT, KillingTheSessionBusLeavesTheProgramRunningAndTheNextDictationWorks) {
    const std::string sentence = "please send the report to my manager tomorrow";
    launch(kLocal);
    struct RestartBus {
        ~RestartBus() { test::desktop().restartBus(); }
    } restart;
    test::desktop().stopBus();
    waitUntil([] { return false; }, 1.0);
    ASSERT_TRUE(road_->programRunning()) << "the program ended with the bus\n" << road_->programLog();

    holdAndSay(clip(sentence));
    EXPECT_TRUE(waitForText(sentence)) << "target holds: \"" << road_->targetText() << "\"";
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));
    EXPECT_TRUE(road_->programRunning());
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {true, true, true}); }
