#include "dictation/TextInjector.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using platform::PasteboardSnapshot;

class TextInjectorTest : public ::testing::Test {
protected:
    void SetUp() override { test::reset(); }
    test::FakePasteboard& board() { return test::fakes().pasteboard; }
    test::FakeKeySynth& keys() { return test::fakes().keySynth; }
    void advance(double s) { test::fakes().scheduler.advance(s); }

    TextInjector injector;
};

const PasteboardSnapshot kRich{{{"text/plain", "earlier"},
                                {"text/html", "<b>earlier</b>"},
                                {"image/png", std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
                                {"text/uri-list", "file:///home/u/a.txt\r\n"}}};

TEST_F(TextInjectorTest, PastesAfterTheDelayAndGivesEveryFormatBack) {
    board().restore(kRich);
    injector.pasteViaClipboard("the transcript");
    EXPECT_EQ(board().string(), "the transcript");
    EXPECT_EQ(board().content.items.size(), 1u);

    advance(0.049);
    EXPECT_EQ(keys().pastes, 0);
    advance(0.001);
    ASSERT_EQ(keys().pastes, 1);
    EXPECT_EQ(keys().clipboardAtPaste[0], "the transcript");

    advance(0.599);
    EXPECT_EQ(board().string(), "the transcript");
    advance(0.001);
    EXPECT_EQ(board().content.items, kRich.items);
    EXPECT_EQ(keys().pastes, 1);
    EXPECT_EQ(test::fakes().scheduler.pendingCount(), 0u);
}

TEST_F(TextInjectorTest, ACopyMadeMeanwhileIsNotOverwritten) {
    board().setString("earlier");
    injector.pasteViaClipboard("the transcript");
    advance(0.3);
    board().setString("copied by the user");
    advance(0.4);
    EXPECT_EQ(keys().pastes, 1);
    EXPECT_EQ(board().string(), "copied by the user");
}

TEST_F(TextInjectorTest, AnEmptyClipboardKeepsTheTranscriptAndAnEmptyTextComesBack) {
    injector.pasteViaClipboard("first");
    advance(1);
    EXPECT_EQ(board().string(), "first");

    board().setString("");
    injector.pasteViaClipboard("second");
    advance(1);
    EXPECT_EQ(board().string(), "");
    EXPECT_EQ(board().content.items.size(), 1u);
}

TEST_F(TextInjectorTest, ASecondPasteBeforeTheRestoreStillGivesTheUsersClipboardBack) {
    board().restore(kRich);
    injector.pasteViaClipboard("one");
    advance(0.3);
    injector.pasteViaClipboard("two");
    advance(0.05);
    ASSERT_EQ(keys().clipboardAtPaste, (std::vector<std::string>{"one", "two"}));
    advance(0.35);  // the first restore falls due: the clipboard holds "two", so it stands aside
    EXPECT_EQ(board().string(), "two");
    advance(0.3);
    EXPECT_EQ(board().content.items, kRich.items);

    // Once that is done, a later paste saves whatever is there then.
    board().setString("later copy");
    injector.pasteViaClipboard("three");
    advance(1);
    EXPECT_EQ(board().string(), "later copy");
}

TEST_F(TextInjectorTest, FinishesItsWorkAfterTheInjectorIsGone) {
    board().setString("earlier");
    auto shortLived = std::make_unique<TextInjector>();
    shortLived->pasteViaClipboard("text");
    shortLived.reset();
    advance(1);
    EXPECT_EQ(keys().pastes, 1);
    EXPECT_EQ(board().string(), "earlier");
}

TEST_F(TextInjectorTest, AChordThatCannotBeSentLeavesTheTextOnTheClipboardAndSaysSo) {
    board().restore(kRich);
    keys().sends = false;
    std::vector<bool> outcomes;
    injector.pasteViaClipboard("the transcript", [&](bool sent) { outcomes.push_back(sent); });
    advance(0.05);
    EXPECT_EQ(outcomes, std::vector<bool>{false});
    advance(1);
    EXPECT_EQ(board().string(), "the transcript");

    // The next paste saves the clipboard as it is now, the transcript left for the user included.
    keys().sends = true;
    injector.pasteViaClipboard("next", [&](bool sent) { outcomes.push_back(sent); });
    advance(1);
    EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(board().string(), "the transcript");
}

// Control characters never reach the target: a NUL would cut the text short, an escape or a line
// break in a terminal would act there. Line breaks and tabs stay where they are text.
TEST_F(TextInjectorTest, ControlCharactersNeverReachTheTarget) {
    using namespace std::string_literals;
    const std::string raw = "one\0two\ttab\r\nthree\x1b[201~\x7f"s + "\xc2\x85" + "four\xe2\x80\xa8" + "five\rsix\xff";
    injector.pasteViaClipboard(raw);
    advance(0.05);
    EXPECT_EQ(keys().clipboardAtPaste.back(), "onetwo\ttab\nthree[201~four\u2028five\nsix\uFFFD");

    advance(1);
    keys().terminal = true;
    injector.pasteViaClipboard("touch PWNED\nls\t-l\r\nx\0y"s);
    advance(0.05);
    EXPECT_EQ(keys().clipboardAtPaste.back(), "touch PWNED ls -l xy");
}

}  // namespace
