// The log file: private, one line per message with its category, rotated at its limit with the
// current file and one earlier kept.
#include "platform/Log.h"
#include "platform/qt/QtLogFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(QtLogFile, WritesPrivatelyAndKeepsTwoFilesAcrossRotations) {
    test::TempFolder folder;
    const std::string path = folder.path() + "/state/Tovrin/tovrin.log";
    platform::QtLogFile::install(path, 2000);
    qCWarning(logStore) << "cannot write the store: disk full";
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(read(path).find("tovrin.store warning: cannot write the store: disk full"), std::string::npos);

    for (int i = 0; i < 200; ++i) qCWarning(logApp) << "line" << i;
    platform::QtLogFile::uninstall();
    EXPECT_LE(read(path).size(), 2100u);
    EXPECT_NE(read(path + ".1").find("tovrin.app"), std::string::npos);
    EXPECT_NE(access((path + ".2").c_str(), F_OK), 0);
    EXPECT_NE(read(path).find("line 199"), std::string::npos);
}

}  // namespace
