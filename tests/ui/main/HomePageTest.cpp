// The Home page: the figures and their formatting, reloading on history changes, the share image
// and its save step, and the link cards (the community card only while signed in).
#include "state/Database.h"
#include "cloud/BackendClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "support/FakeAccountService.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/main/HomePage.h"
#include "ui/main/LinkCard.h"
#include "ui/main/SavePanel.h"
#include "ui/main/ShareStats.h"
#include "ui/main/StatCard2.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QImage>
#include <QPushButton>

#include <csignal>
#include <memory>
#include <optional>

#include <sys/resource.h>

namespace {

const QString kDash = QString::fromUtf8("\u2014");

class HomePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        store_ = std::make_unique<Database>(folder_.path() + "/Wendaro");
        SavePanel::setChooser([this](const QString& proposed) {
            proposedNames_.push_back(proposed);
            return chosen_;
        });
    }
    void TearDown() override { SavePanel::setChooser({}); }

    void dictated(int words, double seconds) {
        store_->insertHistory("words", words, seconds, "en");
        platform::NotificationCenter::shared().post(Database::historyChanged);
    }
    static QStringList values(const HomePage& page) {
        QStringList out;
        for (int i = 0; i < 4; ++i) out << page.card(i)->value();
        return out;
    }

    test::TempFolder folder_;
    std::unique_ptr<Database> store_;
    BackendClient backend_;
    std::optional<QString> chosen_;
    std::vector<QString> proposedNames_;
};

TEST_F(HomePageTest, PaceAndSpeakingTimeFormatting) {
    auto pace = [](std::int64_t words, double seconds) { return HomePage::wpm({1, words, seconds}); };
    EXPECT_EQ(pace(0, 0), kDash);
    EXPECT_EQ(pace(10, 5.0), kDash);
    EXPECT_EQ(pace(10, 6.0), "100");
    EXPECT_EQ(pace(7, 60.0), "7");
    EXPECT_EQ(pace(10, 7.0), "85");  // 85.71… truncated

    EXPECT_EQ(HomePage::speakingTime(0), "0s");
    EXPECT_EQ(HomePage::speakingTime(42.9), "42s");
    EXPECT_EQ(HomePage::speakingTime(59.9), "59s");
    EXPECT_EQ(HomePage::speakingTime(60), "1m 0s");
    EXPECT_EQ(HomePage::speakingTime(125), "2m 5s");
    EXPECT_EQ(HomePage::speakingTime(3599), "59m 59s");
    EXPECT_EQ(HomePage::speakingTime(3600), "1h 0m");
    EXPECT_EQ(HomePage::speakingTime(3725), "1h 2m");
    EXPECT_EQ(HomePage::speakingTime(90061), "25h 1m");
}

TEST_F(HomePageTest, FiguresStartAtZeroAndFollowEveryHistoryChange) {
    HomePage page([](Page) {}, backend_, *store_);
    EXPECT_EQ(values(page), (QStringList{"0", "0s", "0", kDash}));
    EXPECT_EQ(page.card(0)->label(), "Words");
    EXPECT_EQ(page.card(3)->label(), "Avg pace");

    dictated(10, 4);
    EXPECT_EQ(values(page), (QStringList{"10", "4s", "1", kDash}));
    dictated(90, 56);
    EXPECT_EQ(values(page), (QStringList{"100", "1m 0s", "2", "100 wpm"}));

    store_->deleteHistory(store_->history("", false, 1).front().id);  // posts the change itself
    EXPECT_EQ(values(page), (QStringList{"10", "4s", "1", kDash}));
    store_->clearHistory();
    EXPECT_EQ(values(page), (QStringList{"0", "0s", "0", kDash}));
}

TEST_F(HomePageTest, ShareStatsSavesA1560PixelWidePngWhereTheUserChose) {
    dictated(120, 60);
    HomePage page([](Page) {}, backend_, *store_);
    chosen_ = QString::fromStdString(folder_.path() + "/stats.png");
    page.findChild<QPushButton*>("shareStats")->click();

    ASSERT_EQ(proposedNames_, std::vector<QString>{"wendaro-stats.png"});
    QImage saved;
    ASSERT_TRUE(saved.load(*chosen_, "PNG"));
    EXPECT_EQ(saved.width(), 1560);
    const QImage rendered = ShareStats::render(page.stats(), "120");
    EXPECT_EQ(saved.height(), rendered.height());
    EXPECT_GT(saved.height(), 3 * 100);
    // The card is opaque dark grey at its top-left and darker at the bottom.
    EXPECT_EQ(saved.pixelColor(0, 0).alpha(), 255);
    EXPECT_NEAR(saved.pixelColor(0, 0).redF(), 0.1, 0.02);
    EXPECT_LT(saved.pixelColor(0, saved.height() - 1).redF(), saved.pixelColor(0, 0).redF());

    // Cancelling the save panel writes nothing.
    QFile::remove(*chosen_);
    const QString kept = *chosen_;
    chosen_.reset();
    page.findChild<QPushButton*>("shareStats")->click();
    EXPECT_EQ(proposedNames_.size(), 2u);
    EXPECT_FALSE(QFile::exists(kept));
}

TEST_F(HomePageTest, AFailedShareIsToldInThePageAndLeavesNoPartialFile) {
    dictated(120, 60);
    HomePage page([](Page) {}, backend_, *store_);
    const QDir folder(QString::fromStdString(folder_.path()));
    const QStringList before = folder.entryList(QDir::Files | QDir::Hidden);

    // A disk that fills up half-way (a file-size limit stands in for it): the write breaks off.
    chosen_ = folder.filePath("stats.png");
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = original;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    page.findChild<QPushButton*>("shareStats")->click();
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(page.exportError()->isHidden());
    EXPECT_TRUE(page.exportError()->text().startsWith("Could not save " + *chosen_ + ": ")) << page.exportError()->text().toStdString();
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), before) << "no partial file, no temporary one";

    // A folder that cannot take it; then a save that works clears the message.
    chosen_ = folder.filePath("no/such/folder/stats.png");
    page.findChild<QPushButton*>("shareStats")->click();
    EXPECT_TRUE(page.exportError()->text().startsWith("Could not save " + *chosen_ + ": "));
    chosen_ = folder.filePath("stats.png");
    page.findChild<QPushButton*>("shareStats")->click();
    EXPECT_TRUE(page.exportError()->isHidden());
    EXPECT_TRUE(QFile::exists(*chosen_));

    // The dialog opens in the documents folder the desktop names, else at home.
    qputenv("XDG_DOCUMENTS_DIR", folder_.path().c_str());
    EXPECT_EQ(SavePanel::startFolder(), folder.path());
    qputenv("XDG_DOCUMENTS_DIR", (folder_.path() + "/missing").c_str());
    EXPECT_TRUE(SavePanel::startFolder() == QDir::homePath() || QDir(SavePanel::startFolder()).exists());
    qunsetenv("XDG_DOCUMENTS_DIR");
}

TEST_F(HomePageTest, LinkCardsOpenTheirPagesAndTheCommunityCardFollowsTheSignedInUser) {
    test::FakeAccountService service;
    test::fakes().defaults.setString("backendURL", service.baseURL());
    service.addAccount("ann@example.com", "correct horse", 40);

    HomePage page([](Page) {}, backend_, *store_);
    EXPECT_EQ(page.communityCard(), nullptr);
    auto cards = page.findChildren<LinkCard*>();
    ASSERT_EQ(cards.size(), 3);
    cards[0]->click();
    EXPECT_EQ(test::fakes().workspace.opened, std::vector<std::string>{HomePage::guideURL});

    test::await(backend_.login("ann@example.com", "correct horse"));
    ASSERT_TRUE(backend_.user().has_value());
    LinkCard* community = page.communityCard();
    ASSERT_NE(community, nullptr);
    EXPECT_EQ(community->title(), QString::fromUtf8("Join the Tovrin community \u2014 get +500 credits"));
    EXPECT_EQ(community->url(), QString(HomePage::communityBotURL) + QString::fromStdString(backend_.user()->id));
    EXPECT_TRUE(community->url().contains("?start="));
    community->click();
    EXPECT_EQ(test::fakes().workspace.opened.back(), community->url().toStdString());

    test::await(backend_.logout());
    EXPECT_EQ(page.communityCard(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the replaced cards go
    EXPECT_EQ(page.findChildren<LinkCard*>().size(), 3);

    // An address that is not a URL does nothing.
    LinkCard broken("book.fill", Qt::red, "t", "s", "a", "not a url");
    const auto before = test::fakes().workspace.opened.size();
    broken.click();
    EXPECT_EQ(test::fakes().workspace.opened.size(), before);
}

}  // namespace
