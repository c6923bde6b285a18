#include "state/Database.h"
#include "platform/NotificationCenter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path().toStdString() + "/Wendaro";
        QObject::connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, &listener_,
                         [this](const std::string& name) { changes_ += name == Database::historyChanged; });
    }

    // A store whose clock ticks one second per history insert, so rows have a known order.
    std::unique_ptr<Database> open(Database::Options options = {}) {
        if (!options.now) options.now = [this] { return clock_ += 1; };
        return std::make_unique<Database>(folder_, options);
    }
    void writeFile(const std::string& name, const std::string& content) {
        fs::create_directories(folder_);
        std::ofstream(folder_ + "/" + name, std::ios::binary) << content;
    }
    bool exists(const std::string& name) const { return fs::exists(folder_ + "/" + name); }
    // Runs SQL on the store's file through a connection of its own.
    std::string query(const std::string& sql) const {
        sqlite3* db = nullptr;
        sqlite3_open((folder_ + "/wendaro.db").c_str(), &db);
        std::string out;
        sqlite3_exec(
            db, sql.c_str(),
            [](void* o, int n, char** values, char**) {
                auto& s = *static_cast<std::string*>(o);
                for (int i = 0; i < n; ++i) s += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
                s += "\n";
                return 0;
            },
            &out, nullptr);
        sqlite3_close(db);
        return out;
    }

    QTemporaryDir dir_;
    std::string folder_;
    double clock_ = 1000;
    int changes_ = 0;
    QObject listener_;
};

// Another process's hold on the store: an exclusive transaction on a connection of its own.
class HeldLock {
public:
    explicit HeldLock(const std::string& path) {
        sqlite3_open(path.c_str(), &db_);
        ok_ = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~HeldLock() { release(); }
    bool ok() const { return ok_; }
    void release() {
        if (!db_) return;
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
    bool ok_ = false;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> texts(const std::vector<HistoryRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.text);
    return out;
}

TEST_F(DatabaseTest, CreatesTheTablesFromTheExactSchemaText) {
    const std::string expected =
        "CREATE TABLE IF NOT EXISTS history(\n  id INTEGER PRIMARY KEY AUTOINCREMENT,\n  ts REAL NOT NULL,\n"
        "  text TEXT NOT NULL,\n  words INTEGER NOT NULL,\n  seconds REAL NOT NULL,\n  language TEXT\n);\n"
        "CREATE TABLE IF NOT EXISTS dictionary(\n  id INTEGER PRIMARY KEY AUTOINCREMENT,\n  term TEXT NOT NULL,\n"
        "  replacement TEXT NOT NULL,\n  enabled INTEGER NOT NULL DEFAULT 1\n);";
    EXPECT_EQ(std::strlen(Database::schema), 357u);
    EXPECT_EQ(Database::schema, expected);
    EXPECT_STREQ(Database::favoriteMigration, "ALTER TABLE history ADD COLUMN favorite INTEGER NOT NULL DEFAULT 0");

    auto db = open();
    ASSERT_TRUE(db->isOpen());
    EXPECT_EQ(db->path(), folder_ + "/wendaro.db");
    EXPECT_EQ(query("SELECT name FROM pragma_table_info('history')"), "id\nts\ntext\nwords\nseconds\nlanguage\nfavorite\n");
    EXPECT_EQ(query("SELECT name FROM pragma_table_info('dictionary')"), "id\nterm\nreplacement\nenabled\n");
}

TEST_F(DatabaseTest, BuildsTheHistoryQueryFromItsFilters) {
    EXPECT_EQ(Database::historyQuery("", false),
              "SELECT id,ts,text,words,seconds,language,favorite FROM history ORDER BY ts DESC LIMIT ?");
    EXPECT_EQ(Database::historyQuery("x", true),
              "SELECT id,ts,text,words,seconds,language,favorite FROM history WHERE text LIKE ? AND favorite = 1 "
              "ORDER BY ts DESC LIMIT ?");
    EXPECT_EQ(Database::historyQuery("", true),
              "SELECT id,ts,text,words,seconds,language,favorite FROM history WHERE favorite = 1 ORDER BY ts DESC LIMIT ?");
}

TEST_F(DatabaseTest, StoresHistoryNewestFirstWithinTheLimit) {
    auto db = open();
    db->insertHistory("first", 1, 1.5, "en");
    db->insertHistory("second words here", 3, 2.25, std::nullopt);
    db->insertHistory("третій", 1, 0.75, "uk");
    EXPECT_EQ(changes_, 0) << "the caller announces inserts, not the store";

    const auto rows = db->history("", false, 500);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(texts(rows), (std::vector<std::string>{"третій", "second words here", "first"}));
    EXPECT_EQ(rows[1].words, 3);
    EXPECT_DOUBLE_EQ(rows[1].seconds, 2.25);
    EXPECT_EQ(rows[1].language, std::nullopt);
    EXPECT_EQ(rows[2].language, "en");
    EXPECT_DOUBLE_EQ(rows[2].ts, 1001);
    EXPECT_FALSE(rows[0].favorite);
    EXPECT_EQ(query("SELECT COUNT(*) FROM history WHERE language IS NULL"), "1\n");

    EXPECT_EQ(texts(db->history("", false, 2)), (std::vector<std::string>{"третій", "second words here"}));
    EXPECT_TRUE(db->history("", false, 0).empty());
}

TEST_F(DatabaseTest, SearchIsALikePatternWithWildcardsAndAsciiOnlyCaseFolding) {
    auto db = open();
    db->insertHistory("costs 50 dollars", 3, 1, std::nullopt);
    db->insertHistory("about 150 people", 3, 1, std::nullopt);
    db->insertHistory("5 0 apart", 3, 1, std::nullopt);
    db->insertHistory("Hello World", 2, 1, std::nullopt);
    db->insertHistory("Привіт світ", 2, 1, std::nullopt);

    EXPECT_EQ(texts(db->history("50%", false, 500)), (std::vector<std::string>{"about 150 people", "costs 50 dollars"}));
    EXPECT_EQ(texts(db->history("5_0", false, 500)), (std::vector<std::string>{"5 0 apart"}));
    EXPECT_EQ(texts(db->history("hello", false, 500)), (std::vector<std::string>{"Hello World"}));
    EXPECT_TRUE(db->history("привіт", false, 500).empty());
    EXPECT_EQ(texts(db->history("Привіт", false, 500)), (std::vector<std::string>{"Привіт світ"}));
    // Quotes in the search text are bound, never spliced into the SQL.
    EXPECT_TRUE(db->history("'; DROP TABLE history; --", false, 500).empty());
    EXPECT_EQ(db->history("", false, 500).size(), 5u);
}

TEST_F(DatabaseTest, FavouritesToggleFilterAndAnnounceTheChange) {
    auto db = open();
    db->insertHistory("one", 1, 1, std::nullopt);
    db->insertHistory("two", 1, 1, std::nullopt);
    db->insertHistory("one more", 2, 1, std::nullopt);
    const auto rows = db->history("", false, 500);
    const auto oneMore = rows[0].id, one = rows[2].id;

    db->toggleFavorite(one);
    db->toggleFavorite(oneMore);
    EXPECT_EQ(changes_, 2);
    EXPECT_EQ(texts(db->history("", true, 500)), (std::vector<std::string>{"one more", "one"}));
    EXPECT_EQ(texts(db->history("more", true, 500)), (std::vector<std::string>{"one more"}));

    db->toggleFavorite(one);
    EXPECT_EQ(query("SELECT favorite FROM history WHERE id=" + std::to_string(one)), "0\n");
    EXPECT_EQ(texts(db->history("", true, 500)), (std::vector<std::string>{"one more"}));

    const auto before = query("SELECT id,favorite FROM history ORDER BY id");
    db->toggleFavorite(9999);
    EXPECT_EQ(query("SELECT id,favorite FROM history ORDER BY id"), before);
    EXPECT_EQ(changes_, 4);
}

TEST_F(DatabaseTest, DeletingAndClearingAnnounceTheChange) {
    auto db = open();
    db->insertHistory("keep", 1, 1, std::nullopt);
    db->insertHistory("drop", 1, 1, std::nullopt);
    db->deleteHistory(db->history("drop", false, 1).at(0).id);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(texts(db->history("", false, 500)), (std::vector<std::string>{"keep"}));

    // An observer may read the store while handling the announcement.
    std::size_t seen = 99;
    auto reader = std::make_unique<QObject>();
    QObject::connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, reader.get(),
                     [&](const std::string& name) {
                         if (name == Database::historyChanged) seen = db->history("", false, 500).size();
                     });
    db->clearHistory();
    reader.reset();
    EXPECT_EQ(changes_, 2);
    EXPECT_EQ(seen, 0u);
}

TEST_F(DatabaseTest, StatsSumTheHistoryAndAreZeroWhenEmpty) {
    auto db = open();
    EXPECT_EQ(db->stats(), (Database::Stats{0, 0, 0.0}));
    db->insertHistory("a b c", 3, 1.5, std::nullopt);
    db->insertHistory("d e", 2, 2.25, "en");
    EXPECT_EQ(db->stats(), (Database::Stats{2, 5, 3.75}));
}

TEST_F(DatabaseTest, DictionaryKeepsItsRowsInCaseInsensitiveOrder) {
    auto db = open();
    db->dictAdd("beta", "Beta");
    db->dictAdd("Alpha", "A");
    db->dictAdd("alpha2", "A2");
    auto rows = db->dictAll();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].term, "Alpha");
    EXPECT_EQ(rows[1].term, "alpha2");
    EXPECT_EQ(rows[2].term, "beta");
    EXPECT_TRUE(rows[0].enabled && rows[1].enabled && rows[2].enabled);

    DictRow changed = rows[2];
    changed.term = "gamma";
    changed.replacement = "$1 \\ 'quoted'";
    changed.enabled = false;
    db->dictUpdate(changed);
    db->dictDelete(rows[0].id);
    rows = db->dictAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].term, "alpha2");
    EXPECT_EQ(rows[1], changed);
    EXPECT_EQ(changes_, 0) << "dictionary edits are not history changes";
}

TEST_F(DatabaseTest, AnOlderStoreGainsTheFavouriteColumnOnce) {
    fs::create_directories(folder_);
    {
        sqlite3* raw = nullptr;
        sqlite3_open((folder_ + "/wendaro.db").c_str(), &raw);
        sqlite3_exec(raw,
                     "CREATE TABLE history(id INTEGER PRIMARY KEY AUTOINCREMENT, ts REAL NOT NULL, text TEXT NOT NULL,"
                     " words INTEGER NOT NULL, seconds REAL NOT NULL, language TEXT);"
                     "INSERT INTO history(ts,text,words,seconds,language) VALUES(5,'old one',2,1.0,'en'),"
                     "(6,'old two',2,1.0,NULL);",
                     nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    {
        auto db = open();
        const auto rows = db->history("", false, 500);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_FALSE(rows[0].favorite);
        EXPECT_FALSE(rows[1].favorite);
        db->toggleFavorite(rows[1].id);
    }
    auto again = open();
    const auto rows = again->history("", false, 500);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(texts(rows), (std::vector<std::string>{"old two", "old one"}));
    EXPECT_TRUE(rows[1].favorite);
    EXPECT_EQ(query("SELECT COUNT(*) FROM pragma_table_info('history') WHERE name='favorite'"), "1\n");
}

// One good line, one broken, one without a language, one with fractional seconds, blank lines and
// a Windows line end.
const char* const kLegacy =
    "{\"ts\":\"2024-05-01T12:30:00Z\",\"text\":\"first line\",\"words\":2,\"seconds\":1.5,\"language\":\"en\"}\n"
    "this is not json\n"
    "\n"
    "{\"ts\":\"2024-05-02T08:00:00+02:00\",\"text\":\"третій рядок\",\"words\":2,\"seconds\":3}\r\n"
    "{\"ts\":\"2024-05-03T12:30:00.250Z\",\"text\":\"fractional\",\"words\":1,\"seconds\":1}\n"
    "{\"ts\":\"2024-05-04T12:30:00Z\",\"text\":\"null language\",\"words\":2,\"seconds\":0.5,\"language\":null}\n"
    "{\"ts\":\"2024-05-05T12:30:00Z\",\"text\":\"words not a number\",\"words\":\"2\",\"seconds\":1}\n";

TEST_F(DatabaseTest, ImportsTheLegacyHistoryOnceSkippingBadLines) {
    writeFile("history.jsonl", kLegacy);
    {
        auto db = open();
        const auto rows = db->history("", false, 500);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(texts(rows), (std::vector<std::string>{"null language", "третій рядок", "first line"}));
        EXPECT_DOUBLE_EQ(rows[2].ts, 1714566600);  // 2024-05-01T12:30:00Z
        EXPECT_EQ(rows[2].language, "en");
        EXPECT_DOUBLE_EQ(rows[2].seconds, 1.5);
        EXPECT_DOUBLE_EQ(rows[1].ts, 1714629600);  // 06:00 UTC
        EXPECT_EQ(rows[1].language, std::nullopt);
        EXPECT_EQ(rows[0].language, std::nullopt);
    }
    EXPECT_FALSE(exists("history.jsonl"));
    EXPECT_TRUE(exists("history.jsonl.imported"));

    // A later launch imports nothing again.
    auto again = open();
    EXPECT_EQ(again->stats().count, 3);
}

TEST_F(DatabaseTest, ALegacyWordCountBeyondThirtyTwoBitsIsClampedNotFatal) {
    writeFile("history.jsonl",
              "{\"ts\":\"2024-05-01T12:30:00Z\",\"text\":\"huge\",\"words\":99999999999,\"seconds\":1}\n"
              "{\"ts\":\"2024-05-01T12:31:00Z\",\"text\":\"whole\",\"words\":4.0,\"seconds\":1}\n"
              "{\"ts\":\"2024-05-01T12:32:00Z\",\"text\":\"fraction\",\"words\":4.5,\"seconds\":1}\n");
    auto db = open();
    const auto rows = db->history("", false, 500);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].words, 4);
    EXPECT_EQ(rows[1].words, 2147483647);
}

TEST_F(DatabaseTest, OpeningWithoutALegacyFileMovesNothing) {
    open();
    EXPECT_FALSE(exists("history.jsonl.imported"));
    EXPECT_TRUE(exists("wendaro.db"));
}

TEST_F(DatabaseTest, LeavesALegacyFileThatIsNotUtf8Alone) {
    writeFile("history.jsonl", "{\"ts\":\"2024-05-01T12:30:00Z\",\"text\":\"caf\xe9\",\"words\":1,\"seconds\":1}\n");
    auto db = open();
    EXPECT_EQ(db->stats().count, 0);
    EXPECT_TRUE(exists("history.jsonl"));
    EXPECT_FALSE(exists("history.jsonl.imported"));
}

TEST_F(DatabaseTest, AnImportCutShortBeforeItsCommitImportsEveryRowExactlyOnce) {
    writeFile("history.jsonl", kLegacy);
    // The process dies after the second row is written.
    EXPECT_EXIT(
        {
            Database::Options options;
            options.legacyRowImported = [](std::size_t n) {
                if (n == 2) _exit(7);
            };
            Database db(folder_, options);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_TRUE(exists("history.jsonl"));
    EXPECT_EQ(query("SELECT COUNT(*) FROM history"), "0\n");

    auto db = open();
    EXPECT_EQ(db->stats().count, 3);
    EXPECT_TRUE(exists("history.jsonl.imported"));
    auto again = open();
    EXPECT_EQ(again->stats().count, 3);
}

TEST_F(DatabaseTest, AnEarlierImportedFileIsNeverOverwritten) {
    writeFile("history.jsonl.imported", "earlier\n");
    writeFile("history.jsonl", kLegacy);
    auto db = open();
    EXPECT_EQ(db->stats().count, 3);
    EXPECT_FALSE(exists("history.jsonl"));
    EXPECT_TRUE(exists("history.jsonl.imported.2"));
    std::ifstream earlier(folder_ + "/history.jsonl.imported");
    std::string line;
    std::getline(earlier, line);
    EXPECT_EQ(line, "earlier");
}

// Anything at the store's path that is not a plain file is moved aside untouched and never opened:
// a folder, or a link into another program's database.
TEST_F(DatabaseTest, WhatIsNoPlainFileAtTheStoresPathIsSetAsideUntouched) {
    fs::create_directories(folder_ + "/wendaro.db");  // a folder where the file should be
    writeFile("history.jsonl", kLegacy);
    {
        auto db = open();
        EXPECT_TRUE(db->insertHistory("stored", 1, 1, std::nullopt));
        EXPECT_EQ(db->stats().count, 4) << "the legacy rows and the new one";
    }
    EXPECT_TRUE(fs::is_directory(folder_ + "/wendaro.db.corrupt"));

    // A journal file of another user beside it is not read: it is moved aside too.
    fs::remove_all(folder_ + "/wendaro.db.corrupt");
    {
        auto db = open();
        db->waitForCheck();
    }
    writeFile("wendaro.db-wal", "planted");
    ASSERT_EQ(::chown((folder_ + "/wendaro.db-wal").c_str(), 65534, 65534), 0);
    {
        auto db = open();
        EXPECT_EQ(db->stats().count, 4);
        EXPECT_TRUE(db->insertHistory("after", 1, 1, std::nullopt));
    }
    EXPECT_EQ(slurp(folder_ + "/wendaro.db-wal.foreign"), "planted");

    const std::string other = dir_.path().toStdString() + "/other.db";
    {
        sqlite3* db = nullptr;
        sqlite3_open(other.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE history(id INTEGER PRIMARY KEY, secret TEXT); INSERT INTO history VALUES(1,'x')",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const std::string before = slurp(other);
    fs::remove(folder_ + "/wendaro.db");
    fs::create_symlink(other, folder_ + "/wendaro.db");
    auto db = open();
    db->waitForCheck();
    EXPECT_TRUE(db->insertHistory("ours", 1, 1, std::nullopt));
    EXPECT_EQ(texts(db->history("", false, 500)), std::vector<std::string>{"ours"}) << "nothing read through the link";
    EXPECT_EQ(slurp(other), before);
    EXPECT_TRUE(fs::is_symlink(folder_ + "/wendaro.db.corrupt"));
    EXPECT_FALSE(fs::is_symlink(folder_ + "/wendaro.db"));
}

TEST_F(DatabaseTest, CallersOnSeveralThreadsAreServedOneAtATime) {
    auto db = open(Database::Options{.now = [] { return 1.0; }});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&db, t] {
            for (int i = 0; i < 25; ++i) {
                db->insertHistory("t" + std::to_string(t), 1, 0.5, std::nullopt);
                db->history("t", false, 10);
                db->dictAdd("w" + std::to_string(i), "x");
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(db->stats(), (Database::Stats{100, 100, 50.0}));
    EXPECT_EQ(db->dictAll().size(), 100u);
}

TEST_F(DatabaseTest, ARowBlockedByAnotherProcessIsKeptAndLandsExactlyOnce) {
    auto db = open();
    ASSERT_TRUE(db->insertHistory("before", 1, 1, "en"));
    const std::string pending = folder_ + "/" + Database::pendingFileName;

    // Kept while another process holds the lock, on disk and private; it lands on the timer.
    {
        HeldLock lock(db->path());
        ASSERT_TRUE(lock.ok());
        EXPECT_FALSE(db->insertHistory("while locked", 2, 1, std::nullopt));
        EXPECT_EQ(db->pendingCount(), 1u);
        ASSERT_TRUE(exists(Database::pendingFileName));
        struct stat st {};
        ASSERT_EQ(::stat(pending.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        test::fakes().scheduler.advance(5);
        EXPECT_EQ(db->pendingCount(), 1u) << "still locked: still kept";
        EXPECT_EQ(changes_, 0);
    }
    // Each failed try doubles the wait for the next.
    test::fakes().scheduler.advance(9.9);
    EXPECT_EQ(db->pendingCount(), 1u);
    test::fakes().scheduler.advance(0.1);
    EXPECT_EQ(db->pendingCount(), 0u);
    EXPECT_EQ(changes_, 1) << "a row landing late is announced";
    EXPECT_FALSE(exists(Database::pendingFileName));

    // Kept again, then written together with the next row.
    {
        HeldLock lock(db->path());
        EXPECT_FALSE(db->insertHistory("kept", 1, 1, std::nullopt));
    }
    EXPECT_TRUE(db->insertHistory("next", 1, 1, std::nullopt));
    EXPECT_EQ(texts(db->history("", false, 500)), (std::vector<std::string>{"next", "kept", "while locked", "before"}));
    EXPECT_FALSE(exists(Database::pendingFileName));
}

TEST_F(DatabaseTest, KeptRowsOutliveTheProcessAndLandExactlyOnce) {
    const std::string pending = folder_ + "/" + Database::pendingFileName;
    std::string kept;
    {
        auto db = open();
        HeldLock lock(db->path());
        EXPECT_FALSE(db->insertHistory("said before a quit", 4, 2.5, "uk"));
        EXPECT_FALSE(db->insertHistory("and another", 2, 1, std::nullopt));
        db.reset();  // the quit: still locked, so the rows wait on disk
        kept = slurp(pending);
    }
    ASSERT_FALSE(kept.empty());
    {
        auto db = open();
        EXPECT_EQ(db->pendingCount(), 0u);
        EXPECT_EQ(db->stats(), (Database::Stats{2, 6, 3.5}));
    }
    // A run that ended after the rows landed but before it could forget them.
    writeFile(Database::pendingFileName, kept);
    auto db = open();
    EXPECT_EQ(db->stats(), (Database::Stats{2, 6, 3.5})) << "no row lands twice";
    const auto rows = db->history("", false, 500);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].language, "uk");
    EXPECT_FALSE(exists(Database::pendingFileName));
}

TEST_F(DatabaseTest, AnUnsoundFileIsSetAsideByteForByteAndAFreshStoreTakesTheRows) {
    const std::string garbage(5000, 'x');
    writeFile("wendaro.db", garbage);
    writeFile("wendaro.db-wal", "its log");
    {
        auto db = open();
        EXPECT_TRUE(db->insertHistory("new row", 2, 1, std::nullopt));
        EXPECT_EQ(db->stats().count, 1);
    }
    EXPECT_EQ(slurp(folder_ + "/wendaro.db.corrupt"), garbage);
    EXPECT_EQ(slurp(folder_ + "/wendaro.db.corrupt-wal"), "its log") << "nothing of it replays into the new store";

    // A store whose pages are damaged past its header is found out at the first write; an earlier
    // copy kept aside is never replaced.
    std::string damaged = slurp(folder_ + "/wendaro.db");
    ASSERT_GE(damaged.size(), 8192u);
    std::fill(damaged.begin() + 4096, damaged.end(), '\xA5');
    writeFile("wendaro.db", damaged);
    auto db = open();
    EXPECT_TRUE(db->insertHistory("after damage", 2, 1, std::nullopt));
    EXPECT_EQ(texts(db->history("", false, 500)), std::vector<std::string>{"after damage"});
    EXPECT_EQ(slurp(folder_ + "/wendaro.db.corrupt"), garbage);
    EXPECT_EQ(slurp(folder_ + "/wendaro.db.corrupt.2"), damaged);
}

// One damaged page among thousands of rows: found by the check after opening, the file is set
// aside byte for byte, every row that can still be read is in the fresh store, and the user is
// told once how many.
TEST_F(DatabaseTest, ADamagedPageIsFoundAndEveryReadableRowRecovered) {
    {
        auto db = open();
        db->dictAdd("jason", "JSON");
    }
    query("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < 2999) "
          "INSERT INTO history(ts,text,words,seconds) SELECT i, 'row ' || i || printf('%.60c', 'x'), 2, 1 FROM n");
    ASSERT_EQ(query("SELECT count(*) FROM history"), "3000\n");
    std::string bytes = slurp(folder_ + "/wendaro.db");
    const std::size_t pages = bytes.size() / 4096;
    ASSERT_GT(pages, 40u);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pages / 2 * 4096), 4096, '\xA5');
    writeFile("wendaro.db", bytes);

    std::vector<std::string> told;
    Database::Options options;
    options.tell = [&told](const std::string& sentence) { told.push_back(sentence); };
    auto db = open(options);
    db->waitForCheck();
    EXPECT_EQ(slurp(folder_ + "/wendaro.db.corrupt"), bytes);
    const auto count = db->stats().count;
    EXPECT_GE(count, 2900);
    EXPECT_LT(count, 3000);
    EXPECT_EQ(db->dictAll().size(), 1u);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(std::to_string(count) + " entries were recovered"), std::string::npos) << told[0];
    EXPECT_TRUE(db->insertHistory("after", 1, 1, std::nullopt));
    EXPECT_EQ(db->stats().count, count + 1);
}

// A store made by a newer version (a column this one would have to fill in) is left exactly as it
// is: read, never written; new rows are kept, and the user is told once.
TEST_F(DatabaseTest, AStoreOfANewerVersionIsLeftUntouchedAndNewRowsAreKept) {
    fs::create_directories(folder_);
    {
        sqlite3* db = nullptr;
        sqlite3_open((folder_ + "/wendaro.db").c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE history(id INTEGER PRIMARY KEY AUTOINCREMENT, ts REAL NOT NULL, text TEXT NOT NULL,"
                     " words INTEGER NOT NULL, seconds REAL NOT NULL, language TEXT, favorite INTEGER NOT NULL DEFAULT 0,"
                     " device TEXT NOT NULL);"
                     "INSERT INTO history(ts,text,words,seconds,device) VALUES(1,'from the newer version',4,1,'pc')",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const std::string before = slurp(folder_ + "/wendaro.db");
    std::vector<std::string> told;
    Database::Options options;
    options.tell = [&told](const std::string& sentence) { told.push_back(sentence); };
    auto db = open(options);
    db->waitForCheck();
    EXPECT_EQ(texts(db->history("", false, 500)), std::vector<std::string>{"from the newer version"});
    EXPECT_FALSE(db->insertHistory("kept", 1, 1, std::nullopt));
    EXPECT_FALSE(db->insertHistory("kept too", 2, 1, std::nullopt));
    EXPECT_EQ(db->pendingCount(), 2u);
    EXPECT_TRUE(exists(Database::pendingFileName));
    db.reset();
    EXPECT_EQ(slurp(folder_ + "/wendaro.db"), before);
    EXPECT_FALSE(exists("wendaro.db.corrupt"));
    EXPECT_EQ(told.size(), 1u);
}

// Rows that can reach neither the store nor the pending file beside it (a full disk) go to the
// spare folder on another file system, and the next start takes them in exactly once.
TEST_F(DatabaseTest, RowsThatCannotBeWrittenBesideTheStoreWaitInTheSpareFolder) {
    const std::string spare = dir_.path().toStdString() + "/spare";
    fs::create_directories(spare);
    Database::Options options;
    options.spareFolder = [spare](bool) { return spare; };
    {
        auto db = open(options);
        fs::create_directories(folder_ + "/" + Database::pendingFileName);  // the pending file cannot be written
        HeldLock lock(db->path());
        for (const char* text : {"one", "two", "three"}) EXPECT_FALSE(db->insertHistory(text, 1, 1, std::nullopt));
        db.reset();  // the quit, with the store still locked
    }
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(spare)) files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(files[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    fs::remove(folder_ + "/" + Database::pendingFileName);  // space again
    for (int run = 0; run < 2; ++run) {
        auto db = open(options);
        EXPECT_EQ(texts(db->history("", false, 500)), (std::vector<std::string>{"three", "two", "one"}));
    }
    EXPECT_FALSE(fs::exists(files[0]));
}

}  // namespace
