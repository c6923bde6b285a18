// The Dictionary page against a store on a temporary folder: the add row's rules, search, edit
// mode, the per-row switch and delete, and the global switch.
#include "app/state/AppSettings.h"
#include "app/state/Database.h"
#include "platform/Paths.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/main/DictRowView.h"
#include "ui/main/DictionaryPage.h"
#include "ui/main/ToggleSwitch.h"

#include <gtest/gtest.h>

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
    static DictRowView* view(const DictionaryPage& page, const std::string& term) {
        for (DictRowView* v : page.rowViews())
            if (v->row().term == term) return v;
        return nullptr;
    }
    void type(DictionaryPage& page, const QString& term, const QString& replacement) {
        page.newTermField()->setText(term);
        page.newReplacementField()->setText(replacement);
    }

    test::TempFolder folder_;
    std::unique_ptr<Database> store_;
};

TEST_F(DictionaryPageTest, AddTermNeedsBothFieldsAndStoresThemTrimmed) {
    DictionaryPage page(*store_);
    EXPECT_FALSE(page.addButton()->isEnabled());
    type(page, QString::fromUtf8("клод код"), "");
    EXPECT_FALSE(page.addButton()->isEnabled());

    // Blank fields enable the button (the test is on the untrimmed text) but add nothing.
    type(page, "   ", "\t");
    EXPECT_TRUE(page.addButton()->isEnabled());
    page.addButton()->click();
    EXPECT_TRUE(store_->dictAll().empty());
    EXPECT_EQ(page.newTermField()->text(), "   ");
    EXPECT_EQ(page.newReplacementField()->text(), "\t");

    type(page, QString::fromUtf8(" \tклод код\u00a0 "), "  Claude Code\t");
    page.addButton()->click();
    ASSERT_EQ(store_->dictAll().size(), 1u);
    EXPECT_EQ(store_->dictAll()[0].term, QString::fromUtf8("клод код").toStdString());
    EXPECT_EQ(store_->dictAll()[0].replacement, "Claude Code");
    EXPECT_TRUE(store_->dictAll()[0].enabled);
    EXPECT_TRUE(page.newTermField()->text().isEmpty());
    EXPECT_TRUE(page.newReplacementField()->text().isEmpty());
    EXPECT_FALSE(page.addButton()->isEnabled());
    EXPECT_EQ(page.countLabel()->text(), "Saved Terms (1)");

    // Line breaks are kept; Return in a field adds like the button.
    type(page, "a\n", "b");
    QTest::keyClick(page.newReplacementField(), Qt::Key_Return);
    EXPECT_EQ(terms(store_->dictAll()), (std::vector<std::string>{"a\n", QString::fromUtf8("клод код").toStdString()}));
}

TEST_F(DictionaryPageTest, SearchIgnoresCaseInTermAndReplacementWhileTheCountShowsAll) {
    store_->dictAdd(QString::fromUtf8("гіт хаб").toStdString(), "GitHub");
    store_->dictAdd("jason", "JSON");
    store_->dictAdd("pie torch", "PyTorch");
    DictionaryPage page(*store_);
    EXPECT_EQ(page.rowViews().size(), 3);

    page.searchField()->setText(QString::fromUtf8("ГІТ"));
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{QString::fromUtf8("гіт хаб").toStdString()});
    page.searchField()->setText("JSON");
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{"jason"});
    EXPECT_EQ(page.rowViews().size(), 1);
    EXPECT_EQ(page.countLabel()->text(), "Saved Terms (3)");
    page.searchField()->setText("T");
    EXPECT_EQ(terms(page.filtered()), (std::vector<std::string>{"pie torch", QString::fromUtf8("гіт хаб").toStdString()}));
    page.searchField()->setText(" t");  // not trimmed
    EXPECT_EQ(terms(page.filtered()), std::vector<std::string>{"pie torch"});
}

TEST_F(DictionaryPageTest, EditModeSavesFieldsAsTypedAndMovesBetweenRowsWithoutSaving) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("beta", "B");
    DictionaryPage page(*store_);

    view(page, "alpha")->editButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    DictRowView* editing = view(page, "alpha");
    ASSERT_TRUE(editing && editing->isEditing());
    EXPECT_EQ(editing->termField()->text(), "alpha");
    EXPECT_EQ(editing->replacementField()->text(), "A");
    QTest::keyClicks(editing->termField(), "-typed");

    // The pencil of another row moves edit mode there; nothing of the first is saved.
    view(page, "beta")->editButton()->click();
    EXPECT_FALSE(view(page, "alpha")->isEditing());
    ASSERT_TRUE(view(page, "beta")->isEditing());
    EXPECT_EQ(terms(store_->dictAll()), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(view(page, "beta")->termField()->text(), "beta");

    // Saving stores exactly what was typed, an empty term included.
    view(page, "beta")->termField()->clear();
    view(page, "beta")->replacementField()->setText(" B2 ");
    view(page, "beta")->saveButton()->click();
    EXPECT_EQ(page.editing(), std::nullopt);
    const auto rows = store_->dictAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].term, "");
    EXPECT_EQ(rows[0].replacement, " B2 ");
    for (DictRowView* v : page.rowViews()) EXPECT_FALSE(v->isEditing());
}

TEST_F(DictionaryPageTest, WhatIsTypedInEditModeSurvivesAChangeToAnotherRow) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("beta", "B");
    DictionaryPage page(*store_);
    view(page, "alpha")->editButton()->click();
    QTest::keyClicks(view(page, "alpha")->replacementField(), "lpha");
    view(page, "beta")->enabledSwitch()->click();  // reloads the list
    ASSERT_TRUE(view(page, "alpha")->isEditing());
    EXPECT_EQ(view(page, "alpha")->replacementField()->text(), "Alpha");
}

TEST_F(DictionaryPageTest, SwitchingOffKeepsThePlaceAndDeletingTheEditedRowRemovesIt) {
    store_->dictAdd("alpha", "A");
    store_->dictAdd("Beta", "B");
    store_->dictAdd("gamma", "G");
    DictionaryPage page(*store_);

    view(page, "Beta")->enabledSwitch()->click();
    EXPECT_EQ(terms(page.rows()), (std::vector<std::string>{"alpha", "Beta", "gamma"}));
    EXPECT_FALSE(page.rows()[1].enabled);
    EXPECT_FALSE(view(page, "Beta")->enabledSwitch()->isChecked());
    EXPECT_FALSE(store_->dictAll()[1].enabled);
    view(page, "Beta")->enabledSwitch()->click();
    EXPECT_TRUE(store_->dictAll()[1].enabled);

    view(page, "gamma")->editButton()->click();
    const auto gammaId = page.editing();
    ASSERT_TRUE(gammaId.has_value());
    view(page, "alpha")->enabledSwitch()->click();  // a switch leaves edit mode alone
    EXPECT_EQ(page.editing(), gammaId);

    // The edited row shows no bin; it can still go (deleted elsewhere, then reloaded).
    store_->dictDelete(*gammaId);
    page.reload();
    EXPECT_EQ(terms(page.rows()), (std::vector<std::string>{"alpha", "Beta"}));
    for (DictRowView* v : page.rowViews()) EXPECT_FALSE(v->isEditing());

    view(page, "alpha")->deleteButton()->click();
    EXPECT_EQ(terms(store_->dictAll()), std::vector<std::string>{"Beta"});
    EXPECT_EQ(page.countLabel()->text(), "Saved Terms (1)");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(DictionaryPageTest, ApplySwitchFollowsAndWritesTheSetting) {
    DictionaryPage page(*store_);
    EXPECT_TRUE(page.applySwitch()->isChecked());
    page.applySwitch()->click();
    EXPECT_FALSE(AppSettings::shared().applyDictionary());
    EXPECT_EQ(test::fakes().defaults.boolean("dictApply"), false);
    AppSettings::shared().setApplyDictionary(true);
    EXPECT_TRUE(page.applySwitch()->isChecked());
}

}  // namespace
