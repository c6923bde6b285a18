#include "state/Database.h"

#include "state/WhisperResult.h"
#include "platform/DesktopNotifier.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "platform/TextTools.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
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

bool isCorruption(int rc) {
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

// One prepared statement, finalized when it goes out of scope. A statement that failed to
// prepare is null: binds on it do nothing and a step returns the error it failed with.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        rc_ = db ? sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) : SQLITE_CANTOPEN;
        if (rc_ == SQLITE_OK && !stmt_) rc_ = SQLITE_MISUSE;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    void bind(int i, double v) { if (stmt_) sqlite3_bind_double(stmt_, i, v); }
    void bind(int i, int v) { if (stmt_) sqlite3_bind_int(stmt_, i, v); }
    void bind(int i, std::int64_t v) { if (stmt_) sqlite3_bind_int64(stmt_, i, v); }
    void bind(int i, const std::string& v) {
        // With its length: a NUL inside the text must not cut the rest off.
        if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, const std::optional<std::string>& v) {
        if (!stmt_) return;
        if (v) bind(i, *v);
        else sqlite3_bind_null(stmt_, i);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code (the preparation's, for a null statement).
    int step() { return stmt_ ? sqlite3_step(stmt_) : rc_; }

    std::int64_t int64(int col) const { return sqlite3_column_int64(stmt_, col); }
    sqlite3_value* value(int col) const { return sqlite3_column_value(stmt_, col); }
    int int32(int col) const { return sqlite3_column_int(stmt_, col); }
    double real(int col) const { return sqlite3_column_double(stmt_, col); }
    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// A step that ends a statement: DONE is success.
int finished(int rc) { return rc == SQLITE_DONE ? SQLITE_OK : rc; }

int clampToInt32(std::int64_t v) {
    if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// An internet date-time without fractional seconds ("2024-05-01T12:30:00Z", or with a "+02:00"
// style offset) as seconds since 1970.
std::optional<double> parseInternetDateTime(const std::string& s) {
    auto digits = [&](std::size_t at, std::size_t n, int& out) {
        if (at + n > s.size()) return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!digits(0, 4, year) || s.size() < 20 || s[4] != '-' || !digits(5, 2, month) || s[7] != '-' ||
        !digits(8, 2, day) || s[10] != 'T' || !digits(11, 2, hour) || s[13] != ':' || !digits(14, 2, minute) ||
        s[16] != ':' || !digits(17, 2, second))
        return std::nullopt;
    int offset = 0;
    if (s.size() == 20 && s[19] == 'Z') {
        offset = 0;
    } else if (s.size() == 25 && (s[19] == '+' || s[19] == '-') && s[22] == ':') {
        int oh, om;
        if (!digits(20, 2, oh) || !digits(23, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = (oh * 60 + om) * 60 * (s[19] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offset);
}

// One line of the older history file: {"ts", "text", "words", "seconds"[, "language"]}.
struct LegacyEntry {
    double ts = 0;
    std::string text;
    int words = 0;
    double seconds = 0;
    std::optional<std::string> language;
};

std::optional<LegacyEntry> decodeLegacyEntry(const std::string& line) {
    const auto j = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object()) return std::nullopt;
    LegacyEntry e;
    const auto ts = j.find("ts");
    if (ts == j.end() || !ts->is_string()) return std::nullopt;
    const auto when = parseInternetDateTime(ts->get<std::string>());
    if (!when) return std::nullopt;
    e.ts = *when;

    const auto text = j.find("text");
    if (text == j.end() || !text->is_string()) return std::nullopt;
    e.text = text->get<std::string>();

    const auto words = j.find("words");
    if (words == j.end()) return std::nullopt;
    if (words->is_number_integer()) {
        e.words = clampToInt32(words->is_number_unsigned()
                                   ? static_cast<std::int64_t>(std::min<std::uint64_t>(words->get<std::uint64_t>(),
                                                                                       std::numeric_limits<std::int64_t>::max()))
                                   : words->get<std::int64_t>());
    } else if (words->is_number_float()) {
        // A whole number written with a fraction part ("12.0") is still an integer.
        const double w = words->get<double>();
        if (!std::isfinite(w) || std::floor(w) != w || std::fabs(w) > 9.2e18) return std::nullopt;
        e.words = clampToInt32(static_cast<std::int64_t>(w));
    } else {
        return std::nullopt;
    }

    const auto seconds = j.find("seconds");
    if (seconds == j.end() || !seconds->is_number()) return std::nullopt;
    e.seconds = seconds->get<double>();

    const auto language = j.find("language");
    if (language != j.end() && !language->is_null()) {
        if (!language->is_string()) return std::nullopt;
        e.language = language->get<std::string>();
    }
    return e;
}

// A kept row as one line of the pending file. The moment is written as seconds since 1970 in
// full precision, so the row is recognised in the store after a round trip.
std::string encodeKept(double ts, const std::string& text, int words, double seconds,
                       const std::optional<std::string>& language) {
    nlohmann::json j = nlohmann::json::object();
    j["ts"] = ts;
    j["text"] = text;
    j["words"] = words;
    j["seconds"] = seconds;
    j["language"] = language ? nlohmann::json(*language) : nlohmann::json(nullptr);
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
                    } catch (const std::logic_error&) {
                    }
                });
            } catch (const std::logic_error&) {
            }
        };
        return options;
    }());
    return db;
}

std::string Database::defaultFolder() { return platform::Paths::applicationSupport() + "/Wendaro"; }

Database::Database(const std::string& folder, Options options)
    : folder_(folder), path_(folder + "/wendaro.db"), options_(std::move(options)) {
    platform::Paths::makePrivateFolder(folder);
    {
        std::lock_guard lock(mutex_);
        openStore();
    }
    migrateJSONL(folder);
    // Rows an earlier run could not write: they land now, exactly once, or stay kept.
    {
        std::lock_guard lock(mutex_);
        loadPending();
        if (!kept_.empty() && flushPending() == Flush::kept) scheduleRetry();
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
    if (!kept_.empty()) flushPending();
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
        qWarning("[Database] cannot open %s: %s", path_.c_str(), db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return;
    }
    db_ = db;
    // At start-up too: another process's lock must not hold up the launch.
    sqlite3_busy_timeout(db_, kBriefWaitMs);
    int rc = SQLITE_OK;
    std::string mode;
    {
        Statement s(db_, "PRAGMA journal_mode");
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
    if (!isCorruption(rc) && !mode.empty() && mode != "wal") {
        if (looksCorrupt()) rc = SQLITE_CORRUPT;
        else exec("PRAGMA journal_mode=WAL");
    }
    if (!isCorruption(rc) && !isUnusable(rc)) rc = exec(schema);
    if (isCorruption(rc) || isUnusable(rc)) {
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
    Statement s(db_, "PRAGMA quick_check");
    const int rc = s.step();
    return isCorruption(rc) || (rc == SQLITE_ROW && s.text(0) != "ok");
}

// The unsound file keeps every byte under a new name, with its journal files beside it under the
// same name, so that it can still be opened (and nothing of it replays into the fresh store).
std::string Database::setAsideCorrupt() {
    const std::string aside = platform::Paths::setAside(path_, ".corrupt");
    if (aside.empty()) {
        qWarning("[Database] %s is not a sound database and cannot be moved aside", path_.c_str());
        return {};
    }
    qWarning("[Database] %s is not a sound database; kept as %s, a fresh store takes its place", path_.c_str(),
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
        Statement s(db_, std::string("PRAGMA table_info(") + table + ")");
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
    qWarning("[Database] %s", sentence.c_str());
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
        Statement s(check, "PRAGMA quick_check");
        const int rc = s.step();
        damaged = isCorruption(rc) || (rc == SQLITE_ROW && s.text(0) != "ok");
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
        qWarning("[Database] %s has damaged pages", path_.c_str());
        closeStore(/*leaveFilesAsTheyAre=*/true);
        if (!replaceStore()) openStore(false);
        if (!kept_.empty() && flushPending() == Flush::kept) scheduleRetry();
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
        Statement s(from, select);
        s.bind(1, after);
        return s.step();
    };
    const auto readable = [](int rc) { return rc == SQLITE_ROW || rc == SQLITE_DONE; };
    for (;;) {
        Statement rows(from, select);
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
        if (rc == SQLITE_DONE || !isCorruption(rc)) return copied;
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
    qWarning("[Database] %zu history rows recovered from %s", recovered, aside.c_str());
    return recovered;
}

int Database::exec(const char* sql) { return db_ ? sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) : SQLITE_CANTOPEN; }

void Database::check(int rc, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    qWarning("[Database] %s failed: %s", what, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
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

void Database::loadPending() {
    // The pending file beside the store, and the spare copy of a run that could not write it.
    for (const std::string& file : {(fs::path(folder_) / pendingFileName).string(), spareFile(false)}) {
        if (file.empty()) continue;
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            const auto j = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
            if (!j.is_object()) continue;
            const auto ts = j.find("ts"), text = j.find("text"), words = j.find("words"), seconds = j.find("seconds"),
                       language = j.find("language");
            if (ts == j.end() || !ts->is_number() || text == j.end() || !text->is_string() || words == j.end() ||
                !words->is_number_integer() || seconds == j.end() || !seconds->is_number())
                continue;
            KeptRow row;
            row.ts = ts->get<double>();
            row.text = text->get<std::string>();
            row.words = clampToInt32(words->get<std::int64_t>());
            row.seconds = seconds->get<double>();
            if (language != j.end() && language->is_string()) row.language = language->get<std::string>();
            // The same row in both files is one row.
            bool known = false;
            for (const auto& k : kept_)
                known = known || (k.ts == row.ts && k.text == row.text && k.words == row.words &&
                                  k.seconds == row.seconds && k.language == row.language);
            if (!known) kept_.push_back(std::move(row));  // not fresh: it may have landed before the file was updated
        }
    }
}

std::string Database::spareFile(bool create) const {
    const std::string folder = options_.spareFolder ? options_.spareFolder(create) : std::string();
    if (folder.empty()) return {};
    // One file per store folder, named by a hash of its path.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : folder_) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "/pending-history-%016llx.jsonl", static_cast<unsigned long long>(hash));
    return folder + name;
}

// The pending file holds exactly the kept rows; it is replaced whole, so a crash leaves either
// the old or the new list, never half a line. It goes once nothing is kept.
void Database::savePending() {
    const std::string file = (fs::path(folder_) / pendingFileName).string();
    const std::string spare = spareFile(false);
    std::error_code ec;
    if (kept_.empty()) {
        fs::remove(file, ec);
        if (!spare.empty()) fs::remove(spare, ec);
        return;
    }
    std::string content;
    for (const auto& r : kept_) content += encodeKept(r.ts, r.text, r.words, r.seconds, r.language) + "\n";
    if (platform::Paths::writePrivateFile(file, content)) {
        if (!spare.empty()) fs::remove(spare, ec);
        return;
    }
    // The store's disk is full or read-only: the rows go to another file system, and the next
    // start takes them in from there.
    const std::string fallback = spareFile(true);
    if (!fallback.empty() && platform::Paths::writePrivateFile(fallback, content)) {
        qWarning("[Database] cannot write %s: %zu history rows are kept in %s", file.c_str(), kept_.size(),
                 fallback.c_str());
        return;
    }
    qWarning("[Database] cannot write %s: %zu history rows are kept in memory only", file.c_str(), kept_.size());
}

// Writes every kept row in one transaction: all land or none. Each row that may be there already
// is inserted only when it is absent, so none lands twice.
Database::Flush Database::flushPending() {
    if (kept_.empty()) return Flush::written;
    if (!writable_) openStore();
    if (foreignSchema_) {
        savePending();
        return Flush::kept;
    }
    int rc = db_ ? SQLITE_OK : SQLITE_CANTOPEN;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!db_) break;
        sqlite3_busy_timeout(db_, kBriefWaitMs);
        rc = exec("BEGIN IMMEDIATE");
        for (auto it = kept_.begin(); rc == SQLITE_OK && it != kept_.end(); ++it) {
            Statement s(db_, it->fresh ? kInsertHistory : kInsertHistoryOnce);
            s.bind(1, it->ts);
            s.bind(2, it->text);
            s.bind(3, it->words);
            s.bind(4, it->seconds);
            s.bind(5, it->language);
            rc = finished(s.step());
        }
        if (rc == SQLITE_OK) rc = exec("COMMIT");
        if (rc != SQLITE_OK) {
            check(rc, "history write");
            if (sqlite3_get_autocommit(db_) == 0) exec("ROLLBACK");
        }
        sqlite3_busy_timeout(db_, kWaitMs);
        // From here on every row's fate is uncertain until it is seen written.
        for (auto& r : kept_) r.fresh = false;
        if (rc == SQLITE_OK) {
            kept_.clear();
            savePending();
            retryDelay_ = 0;
            return Flush::written;
        }
        // A store found unsound is moved aside and the rows go into a fresh one.
        if (attempt > 0 || !(isCorruption(rc) && looksCorrupt())) break;
        if (!replaceStore()) openStore(false);
    }
    qWarning("[Database] %zu history rows kept for a later write", kept_.size());
    savePending();
    return Flush::kept;
}

void Database::scheduleRetry() {
    if (closing_) return;
    platform::Scheduler* scheduler = nullptr;
    try {
        scheduler = &platform::Scheduler::main();
    } catch (const std::logic_error&) {
        return;  // no main queue (a tool): the next write or open tries again
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
        if (kept_.empty()) return true;
        landed = flushPending() == Flush::written;
        waiting = !landed;
        if (waiting) scheduleRetry();
    }
    if (landed) postHistoryChanged();
    return !waiting;
}

std::size_t Database::pendingCount() {
    std::lock_guard lock(mutex_);
    return kept_.size();
}

// The one-time import of the older line-per-record history. All rows go in one transaction and
// the file is renamed only after the commit, so an import cut short (a crash, a full disk) leaves
// the file in place and nothing half-imported: the next launch imports it whole, exactly once.
void Database::migrateJSONL(const std::string& folder) {
    const fs::path file = fs::path(folder) / "history.jsonl";
    std::string content;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) return;
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return;
    }
    if (!platform::TextTools::isUtf8(content)) return;

    {
        std::lock_guard lock(mutex_);
        // Nowhere to put the rows: keep the file for a later launch rather than lose it.
        if (!db_ || sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return;
        bool failed = false;
        std::size_t imported = 0;
        std::size_t start = 0;
        while (start <= content.size() && !failed) {
            std::size_t end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            const std::string line = content.substr(start, end - start);
            start = end + 1;
            if (line.empty()) continue;
            const auto entry = decodeLegacyEntry(line);
            if (!entry) continue;
            Statement insert(db_, kInsertHistory);
            insert.bind(1, entry->ts);
            insert.bind(2, entry->text);
            insert.bind(3, entry->words);
            insert.bind(4, entry->seconds);
            insert.bind(5, entry->language);
            if (insert.step() != SQLITE_DONE) {
                failed = true;
                break;
            }
            ++imported;
            if (options_.legacyRowImported) options_.legacyRowImported(imported);
        }
        if (failed || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return;
        }
    }

    // Never overwrite an earlier imported file: it may be the user's only copy of those lines.
    platform::Paths::setAside(file.string(), ".imported");
}

bool Database::insertHistory(const std::string& text, int words, double seconds,
                             const std::optional<std::string>& language) {
    std::lock_guard lock(mutex_);
    KeptRow row;
    row.ts = now();
    row.text = text;
    row.words = words;
    row.seconds = seconds;
    // Whatever a route reported, only a language code is stored.
    if (language && WhisperResult::isLanguageCode(*language)) row.language = language;
    // Rows kept earlier are tried again with this one; they are all announced by the caller.
    row.fresh = true;
    kept_.push_back(std::move(row));
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
    Statement s(db_, historyQuery(search, favoritesOnly));
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
    check(finished(rc), "history query");
    return rows;
}

void Database::toggleFavorite(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!writable_) openStore();
        Statement s(db_, "UPDATE history SET favorite = 1 - favorite WHERE id=?");
        s.bind(1, id);
        check(finished(s.step()), "favourite toggle");
    }
    postHistoryChanged();
}

void Database::deleteHistory(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!writable_) openStore();
        Statement s(db_, "DELETE FROM history WHERE id=?");
        s.bind(1, id);
        check(finished(s.step()), "history delete");
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
        if (rc == SQLITE_OK && !kept_.empty()) {
            kept_.clear();
            savePending();
        }
    }
    postHistoryChanged();
}

Database::Stats Database::stats() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT COUNT(*), COALESCE(SUM(words),0), COALESCE(SUM(seconds),0) FROM history");
    Stats out;
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
        out.count = s.int64(0);
        out.words = s.int64(1);
        out.seconds = s.real(2);
    }
    check(finished(rc), "history statistics");
    return out;
}

std::int64_t Database::historyCount() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT COUNT(*) FROM history");
    std::int64_t count = 0;
    const int rc = s.step();
    if (rc == SQLITE_ROW) count = s.int64(0);
    check(finished(rc), "history count");
    return count;
}

std::vector<DictRow> Database::dictAll() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id,term,replacement,enabled FROM dictionary ORDER BY term COLLATE NOCASE");
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
    check(finished(rc), "dictionary query");
    return rows;
}

bool Database::dictAdd(const std::string& term, const std::string& replacement) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    if (foreignSchema_) return false;
    Statement s(db_, "INSERT INTO dictionary(term,replacement) VALUES(?,?)");
    s.bind(1, term);
    s.bind(2, replacement);
    const int rc = finished(s.step());
    check(rc, "dictionary add");
    dictVersion_ = nextDictionaryVersion();
    return rc == SQLITE_OK;
}

bool Database::dictUpdate(const DictRow& row) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    if (foreignSchema_) return false;
    Statement s(db_, "UPDATE dictionary SET term=?,replacement=?,enabled=? WHERE id=?");
    s.bind(1, row.term);
    s.bind(2, row.replacement);
    s.bind(3, row.enabled ? 1 : 0);
    s.bind(4, row.id);
    const int rc = finished(s.step());
    check(rc, "dictionary update");
    dictVersion_ = nextDictionaryVersion();
    return rc == SQLITE_OK;
}

void Database::dictDelete(std::int64_t id) {
    std::lock_guard lock(mutex_);
    if (!writable_) openStore();
    Statement s(db_, "DELETE FROM dictionary WHERE id=?");
    s.bind(1, id);
    check(finished(s.step()), "dictionary delete");
    dictVersion_ = nextDictionaryVersion();
}
