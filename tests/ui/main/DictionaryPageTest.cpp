// The Dictionary page against a store on a temporary folder: the add row's rules, search, edit
// mode, the per-row switch and delete, and the global switch.
#include "state/AppSettings.h"
#include "state/Database.h"
#include "platform/Paths.h"
#include "support/Child.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/main/DictRowView.h"
#include "ui/main/DictionaryPage.h"
#include "ui/main/ToggleSwitch.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

class DictionaryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        store_ = std::make_unique<Database>(folder_.path() + "/Wendaro");
    }

    static std::vector<std::string> terms(const std::vector<DictRow>& rows) {
        std::vector<std::string> out;
        for (const auto& r : rows) out.push_back(r.term);
        return out;
    }
    static DictRowView* view(DictionaryPage& page, const std::string& term) {
        const auto shown = page.filtered();
        for (std::size_t i = 0; i < shown.size(); ++i)
            if (shown[i].term == term) return page.rowView(static_cast<int>(i));
        return nullptr;
    }
    static std::vector<DictRowView*> views(DictionaryPage& page) {
        std::vector<DictRowView*> out;
        for (int i = 0; i < page.rowViewCount(); ++i) out.push_back(page.rowView(i));
        return out;
    }
    void type(DictionaryPage& page, const QString& term, const QString& replacement) {
        test::child<QLineEdit>(page, "newTerm")->setText(term);
        test::child<QLineEdit>(page, "newReplacement")->setText(replacement);
    }

    test::TempFolder folder_;
    std::unique_ptr<Database> store_;
};

// A term or an edit the store cannot take (here: a store that refuses every change) is not
// dropped: the fields keep what was typed and the page says why; once the store takes it, the
// note goes.
TEST_F(DictionaryPageTest, ATermThatCannotBeSavedStaysInTheFieldsAndThePageSaysWhy) {
    store_->dictAdd("alpha", "A");
    sqlite3* other = nullptr;
    sqlite3_open(store_->path().c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other,
                           "CREATE TRIGGER refuseAdd BEFORE INSERT ON dictionary BEGIN SELECT RAISE(ABORT, 'full'); END;"
                           "CREATE TRIGGER refuseEdit BEFORE UPDATE ON dictionary BEGIN SELECT RAISE(ABORT, 'full'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    DictionaryPage page(*store_);
    type(page, "jason", "JSON");
    page.addTerm();
    EXPECT_EQ(terms(store_->dictAll()), std::vector<std::string>{"alpha"});
    EXPECT_EQ(test::child<QLineEdit>(page, "newTerm")->text(), "jason");
    EXPECT_EQ(test::child<QLineEdit>(page, "newReplacement")->text(), "JSON");
    auto* note = test::child<QLabel>(page, "termNotSaved");
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().startsWith("Not saved")) << note->text().toStdString();

    test::child<QToolButton>(view(page, "alpha"), "dictEdit")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::keyClicks(test::child<QLineEdit>(view(page, "alpha"), "dictEditTerm"), "-typed");
    test::child<QPushButton>(view(page, "alpha"), "dictSave")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(view(page, "alpha") && view(page, "alpha")->isEditing());
    EXPECT_EQ(test::child<QLineEdit>(view(page, "alpha"), "dictEditTerm")->text(), "alpha-typed");

    sqlite3_exec(other, "DROP TRIGGER refuseAdd; DROP TRIGGER refuseEdit", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    page.addTerm();
    EXPECT_EQ(terms(store_->dictAll()), (std::vector<std::string>{"alpha", "jason"}));
    EXPECT_TRUE(note->isHidden());
    EXPECT_EQ(test::child<QLineEdit>(page, "newTerm")->text(), "");
}

TEST_F(DictionaryPageTest, AddTermNeedsBothFieldsAndStoresThemTrimmed) {
    DictionaryPage page(*store_);
    EXPECT_FALSE(test::child<QPushButton>(page, "addTerm")->isEnabled());
    type(page, QString::fromUtf8("клод код"), "");
    EXPECT_FALSE(test::child<QPushButton>(page, "addTerm")->isEnabled());

    // Blank fields enable the button (the test is on the untrimmed text) but add nothing.
    type(page, "   ", "\t");
    EXPECT_TRUE(test::child<QPushButton>(page, "addTerm")->isEnabled());
    test::child<QPushButton>(page, "addTerm")->click();
    EXPECT_TRUE(store_->dictAll().empty());
    EXPECT_EQ(test::child<QLineEdit>(page, "newTerm")->text(), "   ");
    EXPECT_EQ(test::child<QLineEdit>(page, "newReplacement")->text(), "\t");

    type(page, QString::fromUtf8(" \tклод код\u00a0 "), "  Claude Code\t");
    test::child<QPushButton>(page, "addTerm")->click();
    ASSERT_EQ(store_->dictAll().size(), 1u);
    EXPECT_EQ(store_->dictAll()[0].term, QString::fromUtf8("клод код").toStdString());
    EXPECT_EQ(store_->dictAll()[0].replacement, "Claude Code");
    EXPECT_TRUE(store_->dictAll()[0].enabled);
    EXPECT_TRUE(test::child<QLineEdit>(page, "newTerm")->text().isEmpty());
    EXPECT_TRUE(test::child<QLineEdit>(page, "newReplacement")->text().isEmpty());
    EXPECT_FALSE(test::child<QPushButton>(page, "addTerm")->isEnabled());
    EXPECT_EQ(test::child<QLabel>(page, "dictCount")->text(), "Saved Terms (1)");

    // Line breaks are kept; Return in a field adds like the button.
    type(page, "a\n", "b");
    QTest::keyClick(test::child<QLineEdit>(page, "newReplacement"), Qt::Key_Return);
    EXPECT_EQ(terms(store_->dictAll()), (std::vector<std::string>{"a\n", QString::fromUtf8("клод код").toStdString()}));
}

TEST_F(DictionaryPageTest, SearchIgnoresCaseInTermAndReplacementWhileTheCountShowsAll) {
    store_->dictAdd(QString::fromUtf8("гіт хаб").toStdString(), "GitHub");
    store_->dictAdd("jason", "JSON");
    store_->dictAdd("pie torch", "PyTorch");
    DictionaryPage page(*store_);
    EXPECT_EQ(page.rowViewCount(), 3);

    test::child<QLineEdit>(page, "dictSearch")->setText(QString::fromUtf8("ГІТ"));
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{QString::fromUtf8("гіт хаб").toStdString()});
    test::child<QLineEdit>(page, "dictSearch")->setText("JSON");
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{"jason"});
    EXPECT_EQ(page.rowViewCount(), 1);
    EXPECT_EQ(test::child<QLabel>(page, "dictCount")->text(), "Saved Terms (3)");
    test::child<QLineEdit>(page, "dictSearch")->setText("T");
    EXPECT_EQ(terms(page.filtered()), (std::vector<std::string>{"pie torch", QString::fromUtf8("гіт хаб").toStdString()}));
    test::child<QLineEdit>(page, "dictSearch")->setText(" t");  // not trimmed
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{"pie torch"});
}

TEST_F(DictionaryPageTest, EditModeSavesFieldsAsTypedAndMovesBetweenRowsWithoutSaving) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("beta", "B");
    DictionaryPage page(*store_);

    test::child<QToolButton>(view(page, "alpha"), "dictEdit")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    DictRowView* editing = view(page, "alpha");
    ASSERT_TRUE(editing && editing->isEditing());
    EXPECT_EQ(test::child<QLineEdit>(editing, "dictEditTerm")->text(), "alpha");
    EXPECT_EQ(test::child<QLineEdit>(editing, "dictEditReplacement")->text(), "A");
    QTest::keyClicks(test::child<QLineEdit>(editing, "dictEditTerm"), "-typed");

    // The pencil of another row moves edit mode there; nothing of the first is saved.
    test::child<QToolButton>(view(page, "beta"), "dictEdit")->click();
    EXPECT_FALSE(view(page, "alpha")->isEditing());
    ASSERT_TRUE(view(page, "beta")->isEditing());
    EXPECT_EQ(terms(store_->dictAll()), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(test::child<QLineEdit>(view(page, "beta"), "dictEditTerm")->text(), "beta");

    // Saving stores exactly what was typed, an empty term included.
    test::child<QLineEdit>(view(page, "beta"), "dictEditTerm")->clear();
    test::child<QLineEdit>(view(page, "beta"), "dictEditReplacement")->setText(" B2 ");
    test::child<QPushButton>(view(page, "beta"), "dictSave")->click();
    EXPECT_EQ(page.editing(), std::nullopt);
    const auto rows = store_->dictAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].term, "");
    EXPECT_EQ(rows[0].replacement, " B2 ");
    for (DictRowView* v : views(page)) EXPECT_FALSE(v->isEditing());
}

TEST_F(DictionaryPageTest, WhatIsTypedInEditModeSurvivesAChangeToAnotherRow) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("beta", "B");
    DictionaryPage page(*store_);
    test::child<QToolButton>(view(page, "alpha"), "dictEdit")->click();
    QTest::keyClicks(test::child<QLineEdit>(view(page, "alpha"), "dictEditReplacement"), "lpha");
    test::child<ToggleSwitch>(view(page, "beta"), "dictEnabled")->click();  // reloads the list
    ASSERT_TRUE(view(page, "alpha")->isEditing());
    EXPECT_EQ(test::child<QLineEdit>(view(page, "alpha"), "dictEditReplacement")->text(), "Alpha");
}

TEST_F(DictionaryPageTest, SwitchingOffKeepsThePlaceAndDeletingTheEditedRowRemovesIt) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("Beta", "B");
    store_->dictAdd("gamma", "G");
    DictionaryPage page(*store_);

    test::child<ToggleSwitch>(view(page, "Beta"), "dictEnabled")->click();
    EXPECT_EQ(terms(page.rows()), (std::vector<std::string>{"alpha", "Beta", "gamma"}));
    EXPECT_FALSE(page.rows()[1].enabled);
    EXPECT_FALSE(test::child<ToggleSwitch>(view(page, "Beta"), "dictEnabled")->isChecked());
    EXPECT_FALSE(store_->dictAll()[1].enabled);
    test::child<ToggleSwitch>(view(page, "Beta"), "dictEnabled")->click();
    EXPECT_TRUE(store_->dictAll()[1].enabled);

    test::child<QToolButton>(view(page, "gamma"), "dictEdit")->click();
    const auto gammaId = page.editing();
    ASSERT_TRUE(gammaId.has_value());
    test::child<ToggleSwitch>(view(page, "alpha"), "dictEnabled")->click();  // a switch leaves edit mode alone
    EXPECT_EQ(page.editing(), gammaId);

    // The edited row shows no bin; it can still go (deleted elsewhere, then reloaded).
    store_->dictDelete(*gammaId);
    page.reload();
    EXPECT_EQ(terms(page.rows()), (std::vector<std::string>{"alpha", "Beta"}));
    for (DictRowView* v : views(page)) EXPECT_FALSE(v->isEditing());

    test::child<QToolButton>(view(page, "alpha"), "dictDelete")->click();
    EXPECT_EQ(terms(store_->dictAll()), std::vector<std::string>{"Beta"});
    EXPECT_EQ(test::child<QLabel>(page, "dictCount")->text(), "Saved Terms (1)");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(DictionaryPageTest, ApplySwitchFollowsAndWritesTheSetting) {
    DictionaryPage page(*store_);
    EXPECT_TRUE(test::child<ToggleSwitch>(page, "applyDictionary")->isChecked());
    test::child<ToggleSwitch>(page, "applyDictionary")->click();
    EXPECT_FALSE(AppSettings::shared().applyDictionary());
    EXPECT_EQ(test::fakes().defaults.boolean("dictApply"), false);
    AppSettings::shared().setApplyDictionary(true);
    EXPECT_TRUE(test::child<ToggleSwitch>(page, "applyDictionary")->isChecked());
}

}  // namespace
