#include "platform/AppcastUpdater.h"

#include "support/AsyncWait.h"
#include "support/LoopbackHttpServer.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using platform::AppcastUpdater;

TEST(AppcastUpdater, VersionsCompareNumerically) {
    EXPECT_LT(AppcastUpdater::compareVersions("1.9", "1.10"), 0);
    EXPECT_EQ(AppcastUpdater::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_GT(AppcastUpdater::compareVersions("2", "1.99.99"), 0);
}

TEST(AppcastUpdater, PicksTheNewestItemNewerThanTheRunningVersion) {
    const std::string feed = R"(<?xml version="1.0"?>
<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle" version="2.0"><channel>
  <item><title>1.2</title><enclosure url="https://dl.example/t-1.2.tar.gz" sparkle:version="120" sparkle:shortVersionString="1.2"/></item>
  <item><title>1.10</title><sparkle:shortVersionString>1.10</sparkle:shortVersionString><link>https://dl.example/t-1.10</link></item>
  <item><title>0.9</title><enclosure url="https://dl.example/t-0.9.tar.gz" sparkle:shortVersionString="0.9"/></item>
  <item><title>broken</title><enclosure sparkle:shortVersionString="9.0"/></item>
</channel></rss>)";
    const auto newest = AppcastUpdater::newestNewer(feed, "1.0.0");
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->version, "1.10");
    EXPECT_EQ(newest->downloadUrl, "https://dl.example/t-1.10");
    EXPECT_FALSE(AppcastUpdater::newestNewer(feed, "1.10").has_value());
    EXPECT_FALSE(AppcastUpdater::newestNewer("not xml at all", "1.0").has_value());
}

}  // namespace

namespace {

// The failed check's message box is sized to its text: the explanation reads in a few lines,
// none of it cut off.
TEST(AppcastUpdater, TheUpdateErrorBoxFitsItsText) {
    test::LoopbackHttpServer feed([](const test::RecordedRequest&) {
        test::CannedReply r;
        r.status = 503;
        return r;
    });
    AppcastUpdater updater(feed.baseUrl() + "/appcast.xml");
    QString title, informative;
    QSize box;
    int labelWidth = 0, needed = 0, given = 0, lineHeight = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!shown) return;
        title = shown->text();
        informative = shown->informativeText();
        box = shown->size();
        auto* label = shown->findChild<QLabel*>("qt_msgbox_informativelabel");
        labelWidth = label->width();
        needed = label->heightForWidth(label->width());
        given = label->height();
        lineHeight = label->fontMetrics().lineSpacing();
        shown->accept();
    });
    poll.start(20);
    updater.checkForUpdates();
    ASSERT_TRUE(test::driveUntil([&] { return !title.isEmpty(); }));
    EXPECT_EQ(title, "Update Error!");
    EXPECT_TRUE(informative.contains("503"));
    EXPECT_LE(needed, given) << "the explanation is cut off";
    EXPECT_LE(needed / lineHeight, 3) << "the explanation is squeezed into a narrow column " << labelWidth << " px wide";
    EXPECT_GE(box.width(), 360);
}

}  // namespace
