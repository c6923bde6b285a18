#include "state/AppSettings.h"
#include "state/Database.h"
#include "dictation/DictionaryEngine.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

namespace {

class DictionaryEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        ASSERT_TRUE(dir_.isValid());
        db_ = std::make_unique<Database>(dir_.path().toStdString());
    }
    void add(const std::string& term, const std::string& replacement) { db_->dictAdd(term, replacement); }
    std::string apply(const std::string& text) { return DictionaryEngine::apply(text, *db_); }

    QTemporaryDir dir_;
    std::unique_ptr<Database> db_;
};

TEST_F(DictionaryEngineTest, LeavesTheTextAloneWhenTheSettingIsOff) {
    add("jason", "JSON");
    AppSettings::shared().setApplyDictionary(false);
    EXPECT_EQ(apply("jason file"), "jason file");
    EXPECT_EQ(DictionaryEngine::apply("jason file"), "jason file");
    AppSettings::shared().setApplyDictionary(true);
    EXPECT_EQ(apply("jason file"), "JSON file");
}

TEST_F(DictionaryEngineTest, MatchesWholeWordsInAnyCaseAndInsertsTheReplacementAsStored) {
    add("jason file", "JSON file");
    add("cat", "dog");
    EXPECT_EQ(apply("open the JASON FILE now"), "open the JSON file now");
    EXPECT_EQ(apply("concatenate cat"), "concatenate dog");
    EXPECT_EQ(apply("Cat, cat; CAT. cats"), "dog, dog; dog. cats");
    EXPECT_EQ(apply("no match here"), "no match here");
}

TEST_F(DictionaryEngineTest, CyrillicTermsMatchAsWholeWordsInAnyCase) {
    add("київ", "Київ");
    add("жсон", "JSON");
    EXPECT_EQ(apply("Я їду в КИЇВ завтра"), "Я їду в Київ завтра");
    EXPECT_EQ(apply("київський київ"), "київський Київ");
    EXPECT_EQ(apply("файл Жсон і ЖСОН, не жсонка"), "файл JSON і JSON, не жсонка");
    // A Cyrillic letter is a word character: no boundary inside a mixed word.
    EXPECT_EQ(apply("xжсон жсонx жсон"), "xжсон жсонx JSON");
}

TEST_F(DictionaryEngineTest, TakesTheTermLiterally) {
    add("e.g.", "for example");
    add("c++", "C plus plus");
    add("a.c", "AC");
    EXPECT_EQ(apply("see e.g. this"), "see e.g. this");  // no boundary after the final dot
    EXPECT_EQ(apply("see e.g.this"), "see for examplethis");
    EXPECT_EQ(apply("abc a.c"), "abc AC");
    EXPECT_EQ(apply("I like c++ a lot"), "I like c++ a lot");
    EXPECT_EQ(apply("c++x"), "C plus plusx");
}

TEST_F(DictionaryEngineTest, InsertsDollarsAndBackslashesLiterally) {
    add("price", "$5");
    add("group", "$0 and \\1 and $1");
    add("path", "C:\\Users\\n");
    EXPECT_EQ(apply("the price is right"), "the $5 is right");
    EXPECT_EQ(apply("a group here"), "a $0 and \\1 and $1 here");
    EXPECT_EQ(apply("the path"), "the C:\\Users\\n");
}

TEST_F(DictionaryEngineTest, EachRowWorksOnTheOutputOfTheRowsBeforeIt) {
    add("a1", "b1");
    add("b1", "c1");
    EXPECT_EQ(apply("a1"), "c1");
}

TEST_F(DictionaryEngineTest, AnEarlierRowIsNotRevisited) {
    add("b1", "a1");
    add("a1", "x");  // comes back first: ordered by term
    EXPECT_EQ(apply("b1"), "a1");
}

TEST_F(DictionaryEngineTest, SkipsDisabledRowsAndEmptyTerms) {
    add("cat", "dog");
    add("", "nothing");
    auto rows = db_->dictAll();
    for (auto& r : rows)
        if (r.term == "cat") {
            r.enabled = false;
            db_->dictUpdate(r);
        }
    EXPECT_EQ(apply("cat and text"), "cat and text");
    EXPECT_EQ(apply(""), "");
}

TEST_F(DictionaryEngineTest, ReadsTheDictionaryAfreshForEveryText) {
    EXPECT_EQ(apply("jason"), "jason");
    add("jason", "JSON");
    EXPECT_EQ(apply("jason"), "JSON");
}

TEST_F(DictionaryEngineTest, FollowsEveryEditSwitchAndDeleteAndEachStoreKeepsItsOwn) {
    add("jason", "JSON");
    EXPECT_EQ(apply("jason"), "JSON");
    DictRow row = db_->dictAll().front();
    row.replacement = "J";
    db_->dictUpdate(row);
    EXPECT_EQ(apply("jason"), "J");
    row.enabled = false;
    db_->dictUpdate(row);
    EXPECT_EQ(apply("jason"), "jason");
    row.enabled = true;
    db_->dictUpdate(row);
    db_->dictDelete(row.id);
    EXPECT_EQ(apply("jason"), "jason");

    add("jason", "JSON");
    QTemporaryDir otherDir;
    Database other(otherDir.path().toStdString());
    EXPECT_EQ(DictionaryEngine::apply("jason", other), "jason");
    EXPECT_EQ(apply("jason"), "JSON");
}

TEST_F(DictionaryEngineTest, KeepsTextWithoutAMatchByteForByte) {
    add("cat", "dog");
    const std::string same = "no hit \xe9";  // not UTF-8
    EXPECT_EQ(apply(same), same);
    EXPECT_EQ(apply("emoji 😀 cat 😀"), "emoji 😀 dog 😀");
}

}  // namespace
