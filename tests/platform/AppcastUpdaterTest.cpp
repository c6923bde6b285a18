#include "platform/AppcastUpdater.h"

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
