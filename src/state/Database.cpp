#include "state/Database.h"

#include "state/LegacyHistoryImport.h"
#include "state/SqlStatement.h"
#include "state/WhisperResult.h"
#include "platform/Log.h"
#include "platform/DesktopNotifier.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

const char* const Database::schema =
    "CREATE TABLE IF NOT EXISTS history(\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  ts REAL NOT NULL,\n"
    "  text TEXT NOT NULL,\n"
    "  words INTEGER NOT NULL,\n"
    "  seconds REAL NOT NULL,\n"
    "  language TEXT\n"
    ");\n"
    "CREATE TABLE IF NOT EXISTS dictionary(\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  term TEXT NOT NULL,\n"
    "  replacement TEXT NOT NULL,\n"
    "  enabled INTEGER NOT NULL DEFAULT 1\n"
    ");";

const char* const Database::readIndexes =
    "CREATE INDEX IF NOT EXISTS history_ts ON history(ts);"
    "CREATE INDEX IF NOT EXISTS dictionary_term ON dictionary(term COLLATE NOCASE)";

const char* const Database::favoriteMigration = "ALTER TABLE history ADD COLUMN favorite INTEGER NOT NULL DEFAULT 0";

namespace {

const char* const kInsertHistory = "INSERT INTO history(ts,text,words,seconds,language) VALUES(?,?,?,?,?)";
// The insert of a row that may have landed already (an earlier try whose outcome is unknown, or a
// run that ended before it could forget the row): it adds nothing when the same row is there.
const char* const kInsertHistoryOnce =
    "INSERT INTO history(ts,text,words,seconds,language) SELECT ?1,?2,?3,?4,?5 WHERE NOT EXISTS("
    "SELECT 1 FROM history WHERE ts=?1 AND text=?2 AND words=?3 AND seconds=?4 AND language IS ?5)";

// How long a statement waits for another process's lock. A history write waits only a moment, on
// the main thread: it can keep its row and try again.
constexpr int kWaitMs = 3000;
constexpr int kBriefWaitMs = 200;
// Seconds before the first try of kept rows; each failed try doubles it, up to the longest.
constexpr double kRetrySeconds = 5;
constexpr double kLongestRetrySeconds = 300;

// The columns this version writes; a store with another column that must be filled in is newer.
const char* const kHistoryColumns[] = {"id", "ts", "text", "words", "seconds", "language", "favorite"};
const char* const kDictionaryColumns[] = {"id", "term", "replacement", "enabled"};

// A file at the store's path that SQLite cannot use at all (as opposed to one that is busy, or
// read-only, which waits).
bool isUnusable(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CANTOPEN || primary == SQLITE_PERM || primary == SQLITE_AUTH ||
           rc == SQLITE_IOERR_SHMOPEN || rc == SQLITE_IOERR_SHMSIZE || rc == SQLITE_IOERR_SHMMAP;
}

}  // namespace

Database& Database::shared() {
    static Database db(defaultFolder(), [] {
        Options options;
        options.spareFolder = [](bool create) { return platform::Paths::spareFolder(create); };
        options.tell = [](const std::string& sentence) {
            try {
                platform::Scheduler::main().post([sentence] {
                    try {
                        platform::DesktopNotifier::shared().notify("Tovrin", sentence);
                    } catch (const std::logic_error& e) {
                        // The sentence was logged when it was told.
                        qCWarning(logStore, "cannot show a notice about the store: %s", e.what());
                    }
                });
            } catch (const std::logic_error& e) {
                qCWarning(logStore, "cannot show a notice about the store: %s", e.what());
            }
        };
        return options;
    }());
    return db;
}

std::string Database::defaultFolder() { return platform::Paths::applicationSupport() + "/Wendaro"; }

Database::Database(const std::string& folder, Options options)
    : folder_(folder),
      path_(folder + "/wendaro.db"),
      options_(std::move(options)),
      pending_(folder, options_.spareFolder) {
    platform::Paths::makePrivateFolder(folder);
    {
        std::lock_guard lock(mutex_);
        openStore();
    }
    migrateJSONL(folder);
    // Rows an earlier run could not write: they land now, exactly once, or stay kept.
    {
        std::lock_guard lock(mutex_);
        pending_.load();
        if (!pending_.empty() && flushPending() == Flush::kept) scheduleRetry();
    }
    // A damaged page shows only where it is read: the whole file is checked, without holding up
    // the start.
    checker_ = std::thread([this] { backgroundCheck(); });
}

Database::~Database() {
    *alive_ = false;
    {
        std::lock_guard lock(checkMutex_);
        stopCheck_ = true;
        if (checkConnection_) sqlite3_interrupt(checkConnection_);
    }
    if (checker_.joinable()) checker_.join();
    std::lock_guard lock(mutex_);
    closing_ = true;
    // A last try at quit; what still cannot be written waits in the pending file.
    if (!pending_.empty()) flushPending();
    closeStore();
}

// Opens the file (creating it 0600) and brings its tables up to date. A file that is not a sound
// database is moved aside first and a fresh one made in its place.
void Database::openStore(bool setAsideAllowed) {
    dictVersion_ = nextDictionaryVersion();
    closeStore();
    // The store is a plain file of ours. A link (into another program's database, say), a folder
    // or a device at its path is moved aside, untouched, and never opened.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (!setAsideAllowed || !replaceStore())
            tellOnce("unusable", "The history file " + path_ +
                                     " is not a file Tovrin can use and cannot be moved aside. New dictations are "
                                     "pasted and kept until it can be.");
        return;
    }
    // A journal file of someone else's (or one that is no plain file) is not ours to read or
    // write: it is moved aside, and SQLite makes its own.
    for (const char* companion : {"-wal", "-shm", "-journal"}) {
        const std::string file = path_ + companion;
        if (::lstat(file.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_uid == ::geteuid())) continue;
        const std::string aside = platform::Paths::setAside(file, ".foreign");
        tellOnce("foreign " + file, aside.empty() ? "The history file's companion " + file +
                                                        " belongs to another user and cannot be moved aside; "
                                                        "history may not be saved until it is removed."
                                                  : "The history file's companion " + file +
                                                        " belonged to another user; it is kept as " + aside + ".");
    }
    platform::Paths::createPrivateFile(path_, /*truncate=*/false);
    // Journal files made while the store was read-only stay so after it is writable again, and
    // would keep it read-only: they follow the store's own mode.
    for (const char* companion : {"-wal", "-shm", "-journal"}) platform::Paths::matchMode(path_ + companion, path_);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
        SQLITE_OK) {
        // Without a connection reads come back empty and history rows are kept for later.
        qCWarning(logStore, "cannot open %s: %s", path_.c_str(), db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return;
    }
    db_ = db;
    // At start-up too: another process's lock must not hold up the launch.
    sqlite3_busy_timeout(db_, kBriefWaitMs);
    int rc = SQLITE_OK;
    std::string mode;
    {
        SqlStatement s(db_, "PRAGMA journal_mode");
        rc = s.step();
        if (rc == SQLITE_ROW) mode = s.text(0);
    }
    // A store of a newer version is read as it is: not even its journal mode is changed.
    foreignSchema_ = rc == SQLITE_ROW && hasForeignSchema();
    if (foreignSchema_) {
        tellOnce("newer", "The history file was made by a newer version of Tovrin, so this version leaves it as it "
                          "is. New dictations are pasted and kept, not added to it.");
        sqlite3_busy_timeout(db_, kWaitMs);
        return;
    }
    // Readers are never held up by another process's write in write-ahead logging. The switch
    // writes to the file, so a file is checked before its first one.
    if (!SqlStatement::isCorruption(rc) && !mode.empty() && mode != "wal") {
        if (looksCorrupt()) rc = SQLITE_CORRUPT;
        else exec("PRAGMA journal_mode=WAL");
    }
    if (!SqlStatement::isCorruption(rc) && !isUnusable(rc)) rc = exec(schema);
    if (SqlStatement::isCorruption(rc) || isUnusable(rc)) {
        const std::string reason = sqlite3_errmsg(db_);
        closeStore(/*leaveFilesAsTheyAre=*/true);
        if (!setAsideAllowed) return;
        if (replaceStore()) return;
        if (isUnusable(rc)) {
            tellOnce("unusable", "The history file " + path_ + " cannot be opened (" + reason +
                                     ") and cannot be moved aside. New dictations are pasted and kept until it can be.");
            return;
        }
        openStore(false);
        return;
    }
    exec(favoriteMigration);  // fails once the column exists, which is expected
    exec(readIndexes);
    writable_ = rc == SQLITE_OK && sqlite3_db_readonly(db_, "main") == 0;
    sqlite3_busy_timeout(db_, kWaitMs);
}

void Database::closeStore(bool leaveFilesAsTheyAre) {
    // A last connection normally copies the write-ahead log into the file and deletes it; an
    // unsound file and its log are kept exactly as they are.
    if (db_ && leaveFilesAsTheyAre) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    writable_ = false;
}

bool Database::looksCorrupt() {
    SqlStatement s(db_, "PRAGMA quick_check");
    const int rc = s.step();
    return SqlStatement::isCorruption(rc) || (rc == SQLITE_ROW && s.text(0) != "ok");
}

// The unsound file keeps every byte under a new name, with its journal files beside it under the
// same name, so that it can still be opened (and nothing of it replays into the fresh store).
std::string Database::setAsideCorrupt() {
    const std::string aside = platform::Paths::setAside(path_, ".corrupt");
    if (aside.empty()) {
        qCWarning(logStore, "%s is not a sound database and cannot be moved aside", path_.c_str());
        return {};
    }
    qCWarning(logStore, "%s is not a sound database; kept as %s, a fresh store takes its place", path_.c_str(),
             aside.c_str());
    for (const char* companion : {"-wal", "-shm", "-journal"}) {
        const std::string from = path_ + companion;
        std::error_code ec;
        if (!fs::exists(from, ec)) continue;
        if (fs::exists(aside + companion, ec)) platform::Paths::setAside(from, ".corrupt");
        else fs::rename(from, aside + companion, ec);
    }
    return aside;
}

bool Database::hasForeignSchema() {
    const auto foreignIn = [this](const char* table, const auto& known) {
        SqlStatement s(db_, std::string("PRAGMA table_info(") + table + ")");
        while (s.step() == SQLITE_ROW) {
            const std::string name = s.text(1);
            bool ours = false;
            for (const char* k : known) ours = ours || sqlite3_stricmp(k, name.c_str()) == 0;
            // Columns: cid, name, type, notnull, dflt_value, pk.
            if (!ours && s.int32(3) != 0 && s.isNull(4) && s.int32(5) == 0) return true;
        }
        return false;
    };
    return foreignIn("history", kHistoryColumns) || foreignIn("dictionary", kDictionaryColumns);
}

void Database::tellOnce(const std::string& fact, const std::string& sentence) {
    for (const auto& t : told_)
        if (t == fact) return;
    told_.push_back(fact);
    qCWarning(logStore, "%s", sentence.c_str());
    if (options_.tell) options_.tell(sentence);
}

void Database::backgroundCheck() {
    sqlite3* check = nullptr;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    {
        std::lock_guard lock(checkMutex_);
        if (stopCheck_) return;
        if (sqlite3_open_v2(path_.c_str(), &check, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
            sqlite3_close(check);
            return;
        }
        checkConnection_ = check;
    }
    sqlite3_busy_timeout(check, kWaitMs);
    bool damaged = false;
    {
        SqlStatement s(check, "PRAGMA quick_check");
        const int rc = s.step();
        damaged = SqlStatement::isCorruption(rc) || (rc == SQLITE_ROW && s.text(0) != "ok");
    }
    {
        std::lock_guard lock(checkMutex_);
        checkConnection_ = nullptr;
        sqlite3_close(check);
        if (stopCheck_ || !damaged) return;
    }

    {
        std::lock_guard lock(mutex_);
        // The file checked has been replaced meanwhile (a write found it unsound first).
        if (closing_ || generation != generation_) return;
        qCWarning(logStore, "%s has damaged pages", path_.c_str());
        closeStore(/*leaveFilesAsTheyAre=*/true);
        if (!replaceStore()) openStore(false);
        if (!pending_.empty() && flushPending() == Flush::kept) scheduleRetry();
    }
    postHistoryChanged();
}

bool Database::replaceStore() {
    closeStore(/*leaveFilesAsTheyAre=*/true);
    const std::string aside = setAsideCorrupt();
    if (aside.empty()) return false;
    ++generation_;
    openStore(false);
    const std::size_t recovered = db_ ? recoverFrom(aside) : 0;
    tellOnce("replaced " + aside, "The history file was damaged or could not be used. It is kept as " + aside + ", " +
                                      std::to_string(recovered) + (recovered == 1 ? " entry was" : " entries were") +
                                      " recovered from it, and a new file takes its place.");
    return true;
}

void Database::waitForCheck() {
    if (checker_.joinable()) checker_.join();
}

namespace {

// Copies the rows of one table, in the order of their ids, skipping what cannot be read: where a
// damaged page stops the scan, the first id past it is looked for (further and further ahead,
// then narrowed down) and the scan goes on from there. The rows copied.
std::size_t copyReadableRows(sqlite3* from, sqlite3* to, const std::string& select, const std::string& insert,
                             int columns) {
    std::size_t copied = 0;
    std::int64_t cursor = std::numeric_limits<std::int64_t>::min();
    const auto probe = [&](std::int64_t after) {
        SqlStatement s(from, select);
        s.bind(1, after);
        return s.step();
    };
    const auto readable = [](int rc) { return rc == SQLITE_ROW || rc == SQLITE_DONE; };
    for (;;) {
        SqlStatement rows(from, select);
        if (!rows) return copied;
        rows.bind(1, cursor);
        int rc;
        while ((rc = rows.step()) == SQLITE_ROW) {
            sqlite3_stmt* out = nullptr;
            if (sqlite3_prepare_v2(to, insert.c_str(), -1, &out, nullptr) == SQLITE_OK) {
                for (int c = 0; c < columns; ++c) sqlite3_bind_value(out, c + 1, rows.value(c));
                if (sqlite3_step(out) == SQLITE_DONE && sqlite3_changes(to) > 0) ++copied;
            }
            sqlite3_finalize(out);
            cursor = rows.int64(0);
        }
        if (rc == SQLITE_DONE || !SqlStatement::isCorruption(rc)) return copied;
        // Past the damage: the first point from which the table reads again.
        std::int64_t bad = cursor, step = 1;
        std::optional<std::int64_t> good;
        while (step > 0 && step < (std::int64_t{1} << 40) && cursor <= std::numeric_limits<std::int64_t>::max() - step) {
            if (readable(probe(cursor + step))) {
                good = cursor + step;
                break;
            }
            bad = cursor + step;
            step *= 2;
        }
        if (!good) return copied;
        std::int64_t lo = bad, hi = *good;
        while (hi - lo > 1) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            if (readable(probe(mid))) hi = mid;
            else lo = mid;
        }
        cursor = hi;
    }
}

}  // namespace

std::size_t Database::recoverFrom(const std::string& aside) {
    sqlite3* old = nullptr;
    // Read-write only so that its write-ahead log can be read; nothing is written to it, and the
    // log is not folded into the file when the connection closes.
    if (sqlite3_open_v2(aside.c_str(), &old, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
        sqlite3_close(old);
        return 0;
    }
    sqlite3_db_config(old, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_exec(old, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(old, kWaitMs);
    std::size_t recovered = 0;
    if (exec("BEGIN IMMEDIATE") == SQLITE_OK) {
        recovered = copyReadableRows(
            old, db_, "SELECT id,ts,text,words,seconds,language,favorite FROM history WHERE id > ? ORDER BY id",
            "INSERT OR IGNORE INTO history(id,ts,text,words,seconds,language,favorite) VALUES(?,?,?,?,?,?,?)", 7);
        copyReadableRows(old, db_, "SELECT id,term,replacement,enabled FROM dictionary WHERE id > ? ORDER BY id",
                         "INSERT OR IGNORE INTO dictionary(id,term,replacement,enabled) VALUES(?,?,?,?)", 4);
        if (exec("COMMIT") != SQLITE_OK) {
            exec("ROLLBACK");
            recovered = 0;
        }
    }
    sqlite3_close(old);
    qCWarning(logStore, "%zu history rows recovered from %s", recovered, aside.c_str());
    return recovered;
}

int Database::exec(const char* sql) { return db_ ? sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) : SQLITE_CANTOPEN; }

void Database::check(int rc, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    qCWarning(logStore, "%s failed: %s", what, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    const int primary = rc & 0xff;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) writable_ = false;
}

double Database::now() const {
    if (options_.now) return options_.now();
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::uint64_t Database::nextDictionaryVersion() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

void Database::postHistoryChanged() { platform::NotificationCenter::shared().post(historyChanged); }

// Writes every kept row in one transaction: all land or none. Each row that may be there already
// is inserted only when it is absent, so none lands twice.
Database::Flush Database::flushPending() {
    if (pending_.empty()) return Flush::written;
    if (!writable_) openStore();
    if (foreignSchema_) {
        pending_.save();
        return Flush::kept;
    }
    int rc = db_ ? SQLITE_OK : SQLITE_CANTOPEN;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!db_) break;
        sqlite3_busy_timeout(db_, kBriefWaitMs);
        rc = exec("BEGIN IMMEDIATE");
        for (auto it = pending_.rows().begin(); rc == SQLITE_OK && it != pending_.rows().end(); ++it) {
            SqlStatement s(db_, it->fresh ? kInsertHistory : kInsertHistoryOnce);
            s.bind(1, it->ts);
            s.bind(2, it->text);
            s.bind(3, it->words);
            s.bind(4, it->seconds);
            s.bind(5, it->language);
            rc = SqlStatement::finished(s.step());
        }
        if (rc == SQLITE_OK) rc = exec("COMMIT");
        if (rc != SQLITE_OK) {
            check(rc, "history write");
            if (sqlite3_get_autocommit(db_) == 0) exec("ROLLBACK");
        }
        sqlite3_busy_timeout(db_, kWaitMs);
        // From here on every row's fate is uncertain until it is seen written.
        pending_.markTried();
        if (rc == SQLITE_OK) {
            pending_.clear();
            retryDelay_ = 0;
            return Flush::written;
        }
        // A store found unsound is moved aside and the rows go into a fresh one.
        if (attempt > 0 || !(SqlStatement::isCorruption(rc) && looksCorrupt())) break;
        if (!replaceStore()) openStore(false);
    }
    qCWarning(logStore, "%zu history rows kept for a later write", pending_.size());
    pending_.save();
    return Flush::kept;
}

void Database::scheduleRetry() {
    if (closing_) return;
    platform::Scheduler* scheduler = nullptr;
    try {
        scheduler = &platform::Scheduler::main();
    } catch (const std::logic_error& e) {
        // No main queue (a tool): the next write or open tries again.
        qCInfo(logStore, "no retry of the kept history rows is armed: %s", e.what());
        return;
    }
    if (retryScheduler_ == scheduler) return;  // one is armed already
    retryScheduler_ = scheduler;
    // A store that keeps failing is not hammered: each try waits twice as long as the last.
    retryDelay_ = retryDelay_ <= 0 ? kRetrySeconds : std::min(retryDelay_ * 2, kLongestRetrySeconds);
    std::weak_ptr<bool> alive = alive_;
    scheduler->postAfter(retryDelay_, [this, alive] {
        auto a = alive.lock();
        if (!a || !*a) return;
        {
            std::lock_guard lock(mutex_);
            retryScheduler_ = nullptr;
        }
        retryPending();
    });
}

bool Database::retryPending() {
    bool landed = false;
    bool waiting = false;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return true;
        landed = flushPending() == Flush::written;
        waiting = !landed;
        if (waiting) scheduleRetry();
    }
    if (landed) postHistoryChanged();
    return !waiting;
}

std::size_t Database::pendingCount() {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

void Database::migrateJSONL(const std::string& folder) {
    const LegacyHistoryImport import(folder);
    if (!import.found()) return;
    {
        std::lock_guard lock(mutex_);
        if (!import.writeInto(db_, options_.legacyRowImported)) return;
    }
    import.setFileAside();
}

bool Database::insertHistory(const std::string& text, int words, double seconds,
                             const std::optional<std::string>& language) {
    std::lock_guard lock(mutex_);
    PendingHistory::Row row;
    row.ts = now();
    row.text = text;
    row.words = words;
    row.seconds = seconds;
    // Whatever a route reported, only a language code is stored.
    if (language && WhisperResult::isLanguageCode(*language)) row.language = language;
    // Rows kept earlier are tried again with this one; they are all announced by the caller.
    row.fresh = true;
    pending_.add(std::move(row));
    if (flushPending() == Flush::written) return true;
    scheduleRetry();
    return false;
}

std::string Database::historyQuery(const std::string& search, bool favoritesOnly) {
    std::string sql = "SELECT id,ts,text,words,seconds,language,favorite FROM history";
    std::vector<std::string> conditions;
    if (!search.empty()) conditions.emplace_back("text LIKE ?");
    if (favoritesOnly) conditions.emplace_back("favorite = 1");
    if (!conditions.empty()) {
        sql += " WHERE ";
        for (std::size_t i = 0; i < conditions.size(); ++i) {
            if (i) sql += " AND ";
            sql += conditions[i];
        }
    }
    sql += " ORDER BY ts DESC LIMIT ?";
    return sql;
}

std::vector<HistoryRow> Database::history(const std::string& search, bool favoritesOnly, int limit) {
    std::lock_guard lock(mutex_);
    SqlStatement s(db_, historyQuery(search, favoritesOnly));
    int index = 1;
    if (!search.empty()) s.bind(index++, "%" + search + "%");
    s.bind(index, limit);
    std::vector<HistoryRow> rows;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        HistoryRow r;
        r.id = s.int64(0);
        r.ts = s.real(1);
        r.text = s.text(2);
        r.words = s.int32(3);
        r.seconds = s.real(4);
        if (!s.isNull(5)) r.language = s.text(5);
        r.favorite = s.int32(6) == 1;
        rows.push_back(std::move(r));
    }
    check(SqlStatement::finished(rc), "history query");
    return rows;
}

void Database::toggleFavorite(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!writable_) openStore();
        SqlStatement s(db_, "UPDATE history SET favorite = 1 - favorite WHERE id=?");
        s.bind(1, id);
        check(SqlStatement::finished(s.step()), "favourite toggle");
    }
    postHistoryChanged();
}

void Database::deleteHistory(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!writable_) openStore();
        SqlStatement s(db_, "DELETE FROM history WHERE id=?");
        s.bind(1, id);
        check(SqlStatement::finished(s.step()), "history delete");
    }
    postHistoryChanged();
}

void Database::clearHistory() {
    {
        std::lock_guard lock(mutex_);
        if (!writable_) openStore();
        const int rc = exec("DELETE FROM history");
        check(rc, "history clear");
        // What the user cleared includes the rows still waiting to be written.
        if (rc == SQLITE_OK && !pending_.empty()) {
            pending_.clear();
        }
    }
    postHistoryChanged();
}

Database::Stats Database::stats() {
    std::lock_guard lock(mutex_);
    SqlStatement s(db_, "SELECT COUNT(*), COALESCE(SUM(words),0), COALESCE(SUM(seconds),0) FROM history");
    Stats out;
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
        out.count = s.int64(0);
        out.words = s.int64(1);
        out.seconds = s.real(2);
    }
    check(SqlStatement::finished(rc), "history statistics");
    return out;
}

std::int64_t Database::historyCount() {
    std::lock_guard lock(mutex_);
    SqlStatement s(db_, "SELECT COUNT(*) FROM history");
    std::int64_t count = 0;
    const int rc = s.step();
    if (rc == SQLITE_ROW) count = s.int64(0);
    check(SqlStatement::finished(rc), "history count");
    return count;
}

std::vector<DictRow> Database::dictAll() {
    std::lock_guard lock(mutex_);
    SqlStatement s(db_, "SELECT id,term,replacement,enabled FROM dictionary ORDER BY term COLLATE NOCASE");
    std::vector<DictRow> rows;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        DictRow r;
        r.id = s.int64(0);
        r.term = s.text(1);
        r.replacement = s.text(2);
        r.enabled = s.int32(3) == 1;
        rows.push_back(std::move(r));
    }
    check(SqlStatement::finished(rc), "dictionary query");
    return rows;
}

bool Database::dictAdd(const std::string& term, const std::string& replacement) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    if (foreignSchema_) return false;
    SqlStatement s(db_, "INSERT INTO dictionary(term,replacement) VALUES(?,?)");
    s.bind(1, term);
    s.bind(2, replacement);
    const int rc = SqlStatement::finished(s.step());
    check(rc, "dictionary add");
    dictVersion_ = nextDictionaryVersion();
    return rc == SQLITE_OK;
}

bool Database::dictUpdate(const DictRow& row) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    if (foreignSchema_) return false;
    SqlStatement s(db_, "UPDATE dictionary SET term=?,replacement=?,enabled=? WHERE id=?");
    s.bind(1, row.term);
    s.bind(2, row.replacement);
    s.bind(3, row.enabled ? 1 : 0);
    s.bind(4, row.id);
    const int rc = SqlStatement::finished(s.step());
    check(rc, "dictionary update");
    dictVersion_ = nextDictionaryVersion();
    return rc == SQLITE_OK;
}

void Database::dictDelete(std::int64_t id) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    SqlStatement s(db_, "DELETE FROM dictionary WHERE id=?");
    s.bind(1, id);
    check(SqlStatement::finished(s.step()), "dictionary delete");
    dictVersion_ = nextDictionaryVersion();
}
