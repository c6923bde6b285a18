// The whole road of a dictation on the headless desktop, with the program run as a new user:
// the push-to-talk key pressed through XTest, speech played into the virtual microphone, the
// text at the cursor of another program's window, the history row, the widget's message and
// the clipboard. The speech goes to the test recogniser on the fixed port, which decodes the
// test sentences exactly, so the sentence pasted is the sentence spoken.
#include "e2e/RoadFixture.h"

#include <cmath>
#include <sstream>

namespace e2e {
namespace {

constexpr const char* kLocal = R"({"provider":"local","pttKeyCode":62})";

class DictationRoadIT : public RoadTest {
protected:
    static void SetUpTestSuite() {
        RoadTest::SetUpTestSuite();
        if (setupError_.empty() && !road_->startRecognizer()) setupError_ = "the test recogniser did not start";
    }
};

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

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {true, true, true}); }
