// The exported history under hostile rows: a language value that would split the line, text that
// is not UTF-8 or holds a NUL, and a file that only the user may read.
#include "state/WhisperResult.h"
#include "ui/main/HistoryCsv.h"
#include "ui/main/SavePanel.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

using namespace std::string_literals;

TEST(HistoryCsvTest, OnlyLanguageCodesAndValidTextReachTheFile) {
    for (const char* code : {"en", "uk", "zh-Hans", "auto"}) EXPECT_TRUE(WhisperResult::isLanguageCode(code)) << code;
    for (const char* bad : {"", "en,\n", "e n", "-en", "en_US", "уk", "en\"", "abcdefghijklmnopqrstuvwxyzabcdefghij"})
        EXPECT_FALSE(WhisperResult::isLanguageCode(bad)) << bad;

    HistoryRow row;
    row.ts = 0;
    row.words = 2;
    row.seconds = 1;
    row.language = "en,\nforged,row";
    row.text = "one\0two \xff\xfe"s;
    EXPECT_EQ(HistoryCsv::line(row), "1970-01-01T00:00:00Z,2,1.0,,\"onetwo \uFFFD\uFFFD\"\n");
}

TEST(HistoryCsvTest, TheExportedFileIsTheUsersAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath("history.csv");
    ASSERT_TRUE(SavePanel::writeAtomically(path, "timestamp\n").isEmpty());
    struct stat st {};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
