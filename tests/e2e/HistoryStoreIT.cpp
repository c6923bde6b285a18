// The history store under faults, with the real program on the headless desktop: another process
// holding the database lock, a read-only database, a corrupt one. In each the dictated text is
// pasted and its history row lands exactly once; nothing the user had is overwritten. And the
// user's files are readable by the user alone.
#include "e2e/RoadFixture.h"

#include <filesystem>
#include <sys/stat.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLocal = R"({"provider":"local","pttKeyCode":62})";
constexpr const char* kSentence = "this message was typed by voice";

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

class HistoryStoreIT : public RecognizerRoadTest {
protected:
    // One dictation of the test sentence, pasted into the target window.
    void dictate() {
        holdAndSay(clip(kSentence));
        ASSERT_TRUE(waitForText(kSentence)) << "target holds: \"" << road_->targetText() << "\"";
    }
    bool waitForRows(int n, double seconds) {
        return waitUntil([&] { return historyCount() == n; }, seconds, 0.2);
    }
    std::string pendingFile() const { return road_->dataDir() + "/pending-history.jsonl"; }
};

TEST_F(HistoryStoreIT, ARowWrittenWhileAnotherProcessHoldsTheLockLandsExactlyOnce) {
    launch(kLocal);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(road_->databasePath()); }, 5)) << "the store opens at start";

    // Another process holds the store for 10 s while the dictation is stored.
    const pid_t holder = e2e::launch({"sqlite3", road_->databasePath(), "BEGIN EXCLUSIVE;", ".shell sleep 10", "COMMIT;"},
                                     road_->environment());
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(waitUntil([&] { return !road_->sql("BEGIN IMMEDIATE; ROLLBACK;", false); }, 5))
        << "the other process never took the lock";
    const double lockedAt = now();
    dictate();
    EXPECT_TRUE(road_->titles().waitFor("Inserted — history not saved", 3));
    EXPECT_LT(now() - lockedAt, 9) << "the paste did not wait for the lock";
    EXPECT_EQ(historyCount(), 0);

    EXPECT_TRUE(waitForRows(1, 20)) << historyRows();
    stopGroup(holder);
    EXPECT_EQ(road_->sql("SELECT text, words FROM history").value_or(""), std::string(kSentence) + "|6\n");
    EXPECT_EQ(road_->quitProgram(), 0);
    EXPECT_FALSE(fs::exists(pendingFile()));

    // The next start brings nothing twice.
    launchAsIs();
    waitUntil([] { return false; }, 1.0);
    EXPECT_EQ(historyCount(), 1) << historyRows();
}

TEST_F(HistoryStoreIT, AReadOnlyStorePastesTellsTheUserAndTakesTheRowOnceWritable) {
    launch(kLocal);
    ASSERT_EQ(road_->quitProgram(), 0);
    ASSERT_EQ(::chmod(road_->databasePath().c_str(), 0444), 0);

    // Without the capability to override file modes the program meets the read-only file as a
    // user would.
    launchAsIs({}, {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                    "--bounding-set=-dac_override,-dac_read_search"});
    dictate();
    EXPECT_TRUE(road_->titles().waitFor("Inserted — history not saved", 3));
    waitUntil([] { return false; }, 6.0);  // a retry or more meet the file still read-only
    EXPECT_EQ(historyCount(), 0);
    EXPECT_TRUE(fs::exists(pendingFile())) << "the row waits on disk";

    ASSERT_EQ(::chmod(road_->databasePath().c_str(), 0600), 0);
    EXPECT_TRUE(waitForRows(1, 15)) << historyRows();
    EXPECT_EQ(road_->quitProgram(), 0);
    EXPECT_EQ(historyCount(), 1) << historyRows();
    EXPECT_FALSE(fs::exists(pendingFile()));
}

TEST_F(HistoryStoreIT, ACorruptStoreIsSetAsideByteForByteAndNewRowsLandInAFreshOne) {
    road_->freshUser(kLocal);
    std::string garbage = "SQLite format 3";
    for (int i = 0; garbage.size() < 20000; ++i) garbage += static_cast<char>(i * 7 + 3);
    fs::create_directories(road_->dataDir());
    ASSERT_TRUE(writeFile(road_->databasePath(), garbage));
    launchAsIs();

    dictate();
    EXPECT_TRUE(road_->titles().waitFor("Inserted ✓", 3));
    EXPECT_EQ(historyCount(), 1) << historyRows();
    EXPECT_EQ(readFile(road_->databasePath() + ".corrupt"), garbage);
}

TEST_F(HistoryStoreIT, TheUsersFilesAreCreatedPrivateAndOlderOnesAreTightened) {
    // An older run left settings and logs open to everyone; the store is new.
    road_->freshUser(kLocal);
    const std::string crashes = road_->stateDir() + "/crashes";
    fs::create_directories(crashes);
    ASSERT_TRUE(writeFile(road_->stateDir() + "/engine.log", "an older engine's log\n"));
    ASSERT_TRUE(writeFile(crashes + "/1-1.crash", "signal 11\n"));
    for (const std::string& p : {road_->configDir(), road_->stateDir(), crashes})
        ASSERT_EQ(::chmod(p.c_str(), 0755), 0);
    for (const std::string& p : {road_->configDir() + "/defaults.json", road_->stateDir() + "/engine.log",
                                 crashes + "/1-1.crash"})
        ASSERT_EQ(::chmod(p.c_str(), 0644), 0);

    launchAsIs();
    dictate();
    const std::string db = road_->databasePath();
    for (const std::string& p : {road_->configDir(), road_->stateDir(), crashes, road_->dataDir()})
        EXPECT_EQ(modeOf(p), 0700u) << p;
    for (const std::string& p : {road_->configDir() + "/defaults.json", road_->stateDir() + "/engine.log",
                                 crashes + "/1-1.crash", db, db + "-wal", db + "-shm"})
        EXPECT_EQ(modeOf(p), 0600u) << p;
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {true, true, true}); }
