// The History page against a store on a temporary folder: the CSV file byte for byte, the list's
// filters and empty texts, the row buttons, delete-all behind its confirmation, and reloading on
// every announced history change.
#include "state/Database.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "support/Child.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/main/HistoryCsv.h"
#include "ui/main/HistoryPage.h"
#include "ui/main/HistoryRowView.h"
#include "ui/main/HomePage.h"
#include "ui/main/SavePanel.h"
#include "ui/main/StatCard2.h"
#include "cloud/BackendClient.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <thread>

namespace {

constexpr double kStart = 1741023669.75;  // 2025-03-03T17:41:09.75Z

class HistoryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        Database::Options options;
        options.now = [this] { return clock_; };
        store_ = std::make_unique<Database>(folder_.path() + "/Wendaro", options);
        SavePanel::setChooser([this](const QString& proposed) {
            proposedNames_.push_back(proposed);
            return chosen_;
        });
    }
    void TearDown() override { SavePanel::setChooser({}); }

    // Stores a transcript `advance` seconds after the previous one.
    void insert(const std::string& text, int words, double seconds, std::optional<std::string> language = "en",
                double advance = 60) {
        store_->insertHistory(text, words, seconds, language);
        clock_ += advance;
    }
    static QString readFile(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return QString::fromUtf8(f.readAll());
    }
    static std::vector<QString> texts(const HistoryPage& page) {
        std::vector<QString> out;
        for (const auto& r : page.rows()) out.push_back(QString::fromStdString(r.text));
        return out;
    }
    static HistoryRowView* rowView(HistoryPage& page, int index) { return page.rowView(index); }

    test::TempFolder folder_;
    double clock_ = kStart;
    std::unique_ptr<Database> store_;
    std::optional<QString> chosen_;
    std::vector<QString> proposedNames_;
};

TEST_F(HistoryPageTest, CsvQuotesTheTextAndKeepsCommasNewlinesAndCyrillicInside) {
    insert("He said \"hi\", then left", 5, 7.9);
    insert(QString::fromUtf8("Привіт, \"світ\"\nдругий рядок").toStdString(), 4, 12.0, std::nullopt);
    insert("", 0, 0.45, "uk");
    chosen_ = QString::fromStdString(folder_.path() + "/out.csv");

    HistoryPage page(*store_);
    page.exportCSV();

    ASSERT_EQ(proposedNames_, std::vector<QString>{"wendaro-history.csv"});
    QFile f(*chosen_);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));  // no byte-order mark
    const QString expected = QString::fromUtf8(
        "timestamp,words,seconds,language,text\n"
        "2025-03-03T17:41:09Z,5,7.9,en,\"He said \"\"hi\"\", then left\"\n"
        "2025-03-03T17:42:09Z,4,12.0,,\"Привіт, \"\"світ\"\"\nдругий рядок\"\n"
        "2025-03-03T17:43:09Z,0,0.45,uk,\"\"\n");
    EXPECT_EQ(QString::fromUtf8(bytes), expected);
}

TEST_F(HistoryPageTest, SecondsAndTimestampsReadBackExactly) {
    EXPECT_EQ(HistoryCsv::seconds(7.9), "7.9");
    EXPECT_EQ(HistoryCsv::seconds(12.0), "12.0");
    EXPECT_EQ(HistoryCsv::seconds(0), "0.0");
    EXPECT_EQ(HistoryCsv::seconds(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(HistoryCsv::seconds(100000), "100000.0");  // not "1e+05"
    EXPECT_EQ(HistoryCsv::seconds(0.00001), "1e-05");
    EXPECT_EQ(HistoryCsv::seconds(1.0 / 3), "0.3333333333333333");
    // The fraction of a second is dropped, never rounded up into the next second.
    EXPECT_EQ(HistoryCsv::timestamp(1741023669.999), "2025-03-03T17:41:09Z");
    EXPECT_EQ(HistoryCsv::timestamp(0), "1970-01-01T00:00:00Z");
}

TEST_F(HistoryPageTest, ListShowsTheNewest500ExportHasEveryRowOldestFirstIgnoringFilters) {
    for (int i = 0; i < 600; ++i) insert("t" + std::to_string(i), 1, 1.5, "en", 1);
    store_->toggleFavorite(store_->history("t0", false, 1).front().id);
    chosen_ = QString::fromStdString(folder_.path() + "/all.csv");

    HistoryPage page(*store_);
    ASSERT_EQ(page.rows().size(), 500u);
    EXPECT_EQ(page.rows().front().text, "t599");
    EXPECT_EQ(page.rows().back().text, "t100");
    EXPECT_EQ(page.rowViewCount(), 500);

    test::child<QLineEdit>(page, "historySearch")->setText("t59");
    test::child<QPushButton>(page, "starredFilter")->setChecked(true);
    page.exportCSV();

    const QStringList lines = readFile(*chosen_).split('\n');
    ASSERT_EQ(lines.size(), 602);  // header, 600 rows, and the empty text after the last "\n"
    EXPECT_TRUE(lines[1].endsWith(",\"t0\""));
    EXPECT_TRUE(lines[600].endsWith(",\"t599\""));
    EXPECT_EQ(lines[601], "");
}

TEST_F(HistoryPageTest, CancelledOrFailedExportWritesNothingAndKeepsAnEarlierFile) {
    insert("one", 1, 1);
    HistoryPage page(*store_);
    chosen_.reset();
    page.exportCSV();
    EXPECT_EQ(proposedNames_.size(), 1u);

    const std::string existing = folder_.write("keep.csv", "earlier");
    chosen_ = QString::fromStdString(folder_.path() + "/no/such/folder/out.csv");
    page.exportCSV();
    EXPECT_FALSE(QFile::exists(*chosen_));
    EXPECT_FALSE(page.exportError()->isHidden());
    EXPECT_TRUE(page.exportError()->text().startsWith("Could not save ")) << page.exportError()->text().toStdString();
    EXPECT_EQ(readFile(QString::fromStdString(existing)), "earlier");

    chosen_ = QString::fromStdString(existing);
    page.exportCSV();
    EXPECT_TRUE(readFile(*chosen_).endsWith(",\"one\"\n"));
}

TEST_F(HistoryPageTest, SearchAndStarredFilterWithTheirEmptyTexts) {
    insert("alpha", 1, 1);
    insert("beta", 1, 1);
    HistoryPage page(*store_);
    EXPECT_EQ(texts(page), (std::vector<QString>{"beta", "alpha"}));
    EXPECT_TRUE(test::child<QLabel>(page, "historyEmpty")->isHidden());

    test::child<QPushButton>(page, "starredFilter")->click();
    EXPECT_TRUE(page.rows().empty());
    EXPECT_FALSE(test::child<QLabel>(page, "historyEmpty")->isHidden());
    EXPECT_EQ(test::child<QLabel>(page, "historyEmpty")->text(), "No starred transcripts.");
    test::child<QPushButton>(page, "starredFilter")->click();
    EXPECT_EQ(texts(page), (std::vector<QString>{"beta", "alpha"}));

    test::child<QLineEdit>(page, "historySearch")->setText("zzz");
    EXPECT_TRUE(page.rows().empty());
    EXPECT_EQ(test::child<QLabel>(page, "historyEmpty")->text(), "No transcripts yet.");
    test::child<QLineEdit>(page, "historySearch")->setText("ALP");  // passed as typed; the store matches without ASCII case
    EXPECT_EQ(texts(page), std::vector<QString>{"alpha"});
}

TEST_F(HistoryPageTest, RowButtonsStarCopyAndDeleteThroughTheStore) {
    insert("first", 2, 3.9, std::nullopt);
    insert("second line\nwith break", 4, 5.2, "uk");
    HistoryPage page(*store_);

    HistoryRowView* newest = rowView(page, 0);
    EXPECT_TRUE(test::child<QToolButton>(newest, "historyCopy")->isHidden());
    EXPECT_TRUE(test::child<QToolButton>(newest, "historyDelete")->isHidden());
    QEnterEvent enterEvent(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(newest, &enterEvent);
    EXPECT_FALSE(test::child<QToolButton>(newest, "historyCopy")->isHidden());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(newest, &leave);
    EXPECT_TRUE(test::child<QToolButton>(newest, "historyCopy")->isHidden());

    test::fakes().pasteboard.content.items = {{"text/html", "<b>old</b>"}, {"text/plain", "old"}};
    test::child<QToolButton>(newest, "historyCopy")->click();
    ASSERT_EQ(test::fakes().pasteboard.content.items.size(), 1u);
    EXPECT_EQ(test::fakes().pasteboard.string(), "second line\nwith break");

    test::child<QToolButton>(newest, "historyStar")->click();  // the store announces the change and the page reloads
    ASSERT_EQ(page.rows().size(), 2u);
    EXPECT_TRUE(page.rows()[0].favorite);
    test::child<QPushButton>(page, "starredFilter")->setChecked(true);
    EXPECT_EQ(texts(page), std::vector<QString>{"second line\nwith break"});
    test::child<QPushButton>(page, "starredFilter")->setChecked(false);

    test::child<QToolButton>(rowView(page, 1), "historyDelete")->click();
    EXPECT_EQ(texts(page), std::vector<QString>{"second line\nwith break"});
    EXPECT_EQ(store_->history("", false, 10).size(), 1u);
}

TEST_F(HistoryPageTest, CaptionShowsWordsWholeSecondsAndLanguageOnlyWhenKnown) {
    HistoryRow row;
    row.ts = kStart;
    row.words = 12;
    row.seconds = 7.99;
    const QString bare = HistoryRowView::caption(row);
    EXPECT_TRUE(bare.endsWith(QString::fromUtf8(" \u00b7 12 words \u00b7 7s"))) << bare.toStdString();
    row.language = "uk";
    EXPECT_TRUE(HistoryRowView::caption(row).endsWith(QString::fromUtf8("7s \u00b7 uk")));
    EXPECT_TRUE(bare.contains("2025")) << bare.toStdString();

    // A language value that is no code (markup, say) is not stored, and captions are plain text.
    insert("odd language", 2, 3, "<i>uk</i>");
    HistoryPage page(*store_);
    auto* shown = rowView(page, 0)->findChild<QLabel*>("historyCaption");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->textFormat(), Qt::PlainText);
    EXPECT_TRUE(shown->text().endsWith(QString::fromUtf8(" \u00b7 3s"))) << shown->text().toStdString();
}

TEST_F(HistoryPageTest, ClearHistoryOnlyAfterConfirmingAndHomeFollowsToo) {
    insert("one", 3, 10);
    insert("two", 4, 10);
    HistoryPage page(*store_);
    BackendClient backend;
    HomePage home([](Page) {}, backend, *store_);
    EXPECT_EQ(home.card(2)->value(), "2");

    page.findChild<QPushButton*>("clearHistory")->click();
    QMessageBox* box = page.confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Delete all history?");
    box->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(page.rows().size(), 2u);
    EXPECT_EQ(page.confirmation(), nullptr);

    page.askToClear();
    ASSERT_NE(page.confirmation(), nullptr);
    auto* destroy = page.confirmation()->findChild<QPushButton*>("deleteEverything");
    ASSERT_NE(destroy, nullptr);
    EXPECT_EQ(destroy->text(), "Delete Everything");
    destroy->click();
    EXPECT_TRUE(page.rows().empty());
    EXPECT_EQ(test::child<QLabel>(page, "historyEmpty")->text(), "No transcripts yet.");
    EXPECT_EQ(home.card(0)->value(), "0");
    EXPECT_EQ(home.card(2)->value(), "0");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(HistoryPageTest, ATranscriptStoredWhileThePageIsOpenShowsOnItsAnnouncement) {
    HistoryPage page(*store_);
    EXPECT_FALSE(test::child<QLabel>(page, "historyEmpty")->isHidden());
    insert("fresh", 1, 1);  // the dictation controller stores, then announces
    EXPECT_TRUE(page.rows().empty());
    platform::NotificationCenter::shared().post(Database::historyChanged);
    ASSERT_EQ(texts(page), std::vector<QString>{"fresh"});
    EXPECT_TRUE(test::child<QLabel>(page, "historyEmpty")->isHidden());

    // An announcement from another thread reaches the page on its own thread.
    insert("from a worker", 3, 1);
    std::thread worker([] { platform::NotificationCenter::shared().post(Database::historyChanged); });
    worker.join();
    EXPECT_EQ(page.rows().size(), 1u);
    QApplication::processEvents();
    EXPECT_EQ(texts(page), (std::vector<QString>{"from a worker", "fresh"}));
}

TEST_F(HistoryPageTest, ALongHistoryKeepsTheWindowAnsweringWhileASearchReadsAndClears) {
    // 100,000 transcripts, written straight into the store's file; one in 97 holds "zebra".
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store_->path().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO history(ts,text,words,seconds,language) VALUES(?,?,7,3.5,'en')", -1, &insert,
                       nullptr);
    for (int i = 0; i < 100000; ++i) {
        const std::string text = "note " + std::to_string(i) + " about the weekly plan" + (i % 97 ? "" : " zebra");
        sqlite3_bind_double(insert, 1, kStart + i);
        sqlite3_bind_text(insert, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    HistoryPage page(*store_);
    page.resize(900, 700);
    page.show();
    QApplication::processEvents();
    auto* search = test::child<QLineEdit>(page, "historySearch");

    // A timer posted just before each keystroke fires well within 100 ms (it waits only for the
    // keystroke's own work), and the list then shows what the store holds for the text typed.
    for (const QString typed : {"z", "ze", "zeb", "zebra", ""}) {
        const auto expected = store_->history(typed.toStdString(), false, HistoryPage::listLimit);
        QElapsedTimer clock;
        qint64 firedAfter = -1;
        QTimer::singleShot(0, &page, [&] { firedAfter = clock.elapsed(); });
        clock.start();
        search->setText(typed);
        while ((firedAfter < 0 || page.rows() != expected) && clock.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_GE(firedAfter, 0) << typed.toStdString();
        EXPECT_LE(firedAfter, 100) << typed.toStdString();
        EXPECT_EQ(page.rows().size(), expected.size()) << typed.toStdString();
    }
    EXPECT_EQ(page.rows().front().text, "note 99999 about the weekly plan");
}

}  // namespace
