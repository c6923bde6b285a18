// The keys of a dictation on a PC desktop as a new user meets them, the whole road on the headless
// desktop: the default push-to-talk key (the Menu key standing in for Fn) held over a GTK entry
// and a Qt line edit of another program, Esc with modifiers during a recording, and the paste
// into a terminal emulator.
#include "e2e/RoadFixture.h"
#include "support/HeadlessDesktop.h"

#include <X11/Xlib.h>

#include <filesystem>
#include <unistd.h>

namespace e2e {
namespace {

// No key stored: the push-to-talk key is Fn, and the cancel key Right Super.
constexpr const char* kDefaultKeys = R"({"provider":"local"})";

class KeysRoadIT : public RecognizerRoadTest {
protected:
    void launchWith(const std::vector<std::string>& target) {
        road_->freshUser(kDefaultKeys);
        ASSERT_TRUE(road_->startTarget(target)) << "the target window never got focus";
        ASSERT_TRUE(road_->startProgram()) << "the program showed no window\n" << road_->programLog();
        ASSERT_TRUE(road_->focusTarget());
    }
    bool keysSeen(const std::string& what) const { return road_->targetKeys().find(what) != std::string::npos; }
};

TEST_F(KeysRoadIT, TheMenuKeyDictatesIntoGtkAndQtFieldsAndOpensNoMenuUntilTheProgramQuits) {
    const std::string sentence = "please send the report to my manager tomorrow";
    const Clip& c = clip(sentence);
    ASSERT_GT(c.seconds, 1.0);
    for (const auto& [name, target] :
         {std::pair<std::string, std::vector<std::string>>{"GTK", {"/usr/bin/python3", TOVRIN_E2E_GTK_TARGET}},
          std::pair<std::string, std::vector<std::string>>{"Qt", {}}}) {
        SCOPED_TRACE(name);
        launchWith(target);
        if (HasFatalFailure()) return;

        holdAndSay(c, 0.15, "Menu");
        EXPECT_TRUE(waitForText(sentence)) << "target holds: \"" << road_->targetText() << "\"";
        EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));
        EXPECT_FALSE(keysSeen("Menu")) << "keys seen: " << road_->targetKeys();  // neither the key nor the menu
        EXPECT_EQ(road_->targetReleases().find("Menu"), std::string::npos) << "released: " << road_->targetReleases();

        // Once the program has gone, the key is the field's again.
        EXPECT_EQ(road_->quitProgram(), 0);
        ASSERT_TRUE(keys_->tap("Menu"));
        EXPECT_TRUE(waitUntil([&] { return keysSeen("ContextMenu"); }, 5)) << "keys seen: " << road_->targetKeys();
        road_->stopTarget();
    }
}

TEST_F(KeysRoadIT, EscWithShiftAltGrOrShiftControlCancelsAndTheFieldNeverSeesIt) {
    const Clip& c = clip("open the window and let the fresh air in");
    launchWith({});
    const std::size_t logStart = road_->recognizerLog().size();

    for (const auto& chord : std::vector<std::vector<std::string>>{
             {"Shift_R"}, {"ISO_Level3_Shift"}, {"Shift_L", "Control_L"}}) {
        SCOPED_TRACE(chord.front());
        road_->titles().clear();
        // A tap of the push-to-talk key: the recording goes on hands-free.
        ASSERT_TRUE(keys_->press("Menu"));
        ASSERT_TRUE(road_->titles().waitFor("Recording", 3));
        keys_->release("Menu");
        const pid_t player = pulse_->playAsync(c.path);
        waitUntil([] { return false; }, 0.6);
        for (const auto& key : chord) ASSERT_TRUE(keys_->press(key)) << key;
        keys_->tap("Escape");
        for (auto key = chord.rbegin(); key != chord.rend(); ++key) keys_->release(*key);
        EXPECT_TRUE(road_->titles().waitFor("Cancelled", 3));
        test::PulseServer::waitProcess(player, 10);
    }
    waitUntil([] { return false; }, 1.0);
    EXPECT_FALSE(keysSeen("Escape")) << "keys seen: " << road_->targetKeys();
    EXPECT_EQ(road_->targetText(), "");
    EXPECT_LE(historyCount(), 0) << historyRows();
    EXPECT_EQ(road_->recognizerLog().size(), logStart) << "nothing was sent for transcription";
}

TEST_F(KeysRoadIT, ADictationIntoATerminalLandsInItsInput) {
    const std::string sentence = "this message was typed by voice";
    const Clip& c = clip(sentence);
    ASSERT_EQ(access("/usr/bin/lxterminal", X_OK), 0) << "lxterminal is not installed";
    const std::string home = test::desktop().home();
    const std::string typed = home + "/typed.txt", script = home + "/catter.sh";
    std::filesystem::remove(typed);
    ASSERT_TRUE(writeFile(script, "#!/bin/sh\nexec cat > '" + typed + "'\n"));
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);

    road_->freshUser(kDefaultKeys);
    const pid_t terminal = e2e::launch({"/usr/bin/lxterminal", "-e", script}, road_->environment({"NO_AT_BRIDGE=1"}));
    // It goes however the test ends.
    const std::unique_ptr<const pid_t, void (*)(const pid_t*)> stopTerminal(&terminal,
                                                                             [](const pid_t* pid) { stopGroup(*pid); });
    unsigned long window = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& w : windowsOf(test::desktop().display(), terminal))
                if (w.viewable) window = w.id;
            return window != 0 && std::filesystem::exists(typed);
        },
        20, 0.05))
        << "the terminal did not start its command";
    ASSERT_TRUE(road_->startProgram()) << road_->programLog();
    keys_->focus(window);
    Display* d = keys_->display();
    EXPECT_TRUE(waitUntil(
        [&] {
            Window focused = 0;
            int revert = 0;
            XGetInputFocus(d, &focused, &revert);
            return focused == window;
        },
        5));

    holdAndSay(c, 0.15, "Menu");
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 20));
    waitUntil([] { return false; }, 0.3);
    keys_->tap("Return");  // the line goes to cat, which writes it out
    EXPECT_TRUE(waitUntil([&] { return readFile(typed) == sentence + "\n"; }, 5))
        << "cat wrote: \"" << readFile(typed) << "\"";
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {true, true, true}); }
