#include "app/Database.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>

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

const char* const Database::favoriteMigration = "ALTER TABLE history ADD COLUMN favorite INTEGER NOT NULL DEFAULT 0";

namespace {

const char* const kInsertHistory = "INSERT INTO history(ts,text,words,seconds,language) VALUES(?,?,?,?,?)";

// One prepared statement, finalized when it goes out of scope. A statement that failed to
// prepare is null: binds and steps on it do nothing.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (db) sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    void bind(int i, double v) { if (stmt_) sqlite3_bind_double(stmt_, i, v); }
    void bind(int i, int v) { if (stmt_) sqlite3_bind_int(stmt_, i, v); }
    void bind(int i, std::int64_t v) { if (stmt_) sqlite3_bind_int64(stmt_, i, v); }
    void bind(int i, const std::string& v) {
        if (stmt_) sqlite3_bind_text(stmt_, i, v.c_str(), -1, SQLITE_TRANSIENT);
    }
    void bind(int i, const std::optional<std::string>& v) {
        if (!stmt_) return;
        if (v) bind(i, *v);
        else sqlite3_bind_null(stmt_, i);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code; SQLITE_MISUSE for a null statement.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }

    std::int64_t int64(int col) const { return sqlite3_column_int64(stmt_, col); }
    int int32(int col) const { return sqlite3_column_int(stmt_, col); }
    double real(int col) const { return sqlite3_column_double(stmt_, col); }
    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

int clampToInt32(std::int64_t v) {
    if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

bool isValidUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned c = *p;
        int extra;
        unsigned min;
        if (c < 0x80) { ++p; continue; }
        if ((c & 0xE0) == 0xC0) { extra = 1; min = 0x80; c &= 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; min = 0x800; c &= 0x0F; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; min = 0x10000; c &= 0x07; }
        else return false;
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
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

}  // namespace

Database& Database::shared() {
    static Database db(defaultFolder());
    return db;
}

std::string Database::defaultFolder() { return platform::Paths::applicationSupport() + "/Wendaro"; }

Database::Database(const std::string& folder, Options options) : options_(std::move(options)) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    path_ = folder + "/wendaro.db";
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
        // Without a connection the store stays empty; the program keeps running.
        sqlite3_close(db_);
        db_ = nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        exec(schema);
    }
    {
        std::lock_guard lock(mutex_);
        exec(favoriteMigration);
    }
    migrateJSONL(folder);
}

Database::~Database() { sqlite3_close(db_); }

void Database::exec(const char* sql) {
    if (db_) sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

double Database::now() const {
    if (options_.now) return options_.now();
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void Database::postHistoryChanged() { platform::NotificationCenter::shared().post(historyChanged); }

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
    if (!isValidUtf8(content)) return;

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
    fs::path target = fs::path(folder) / "history.jsonl.imported";
    std::error_code ec;
    for (int n = 2; fs::exists(target, ec) && n < 1000; ++n)
        target = fs::path(folder) / ("history.jsonl.imported." + std::to_string(n));
    fs::rename(file, target, ec);
}

void Database::insertHistory(const std::string& text, int words, double seconds,
                             const std::optional<std::string>& language) {
    std::lock_guard lock(mutex_);
    Statement s(db_, kInsertHistory);
    s.bind(1, now());
    s.bind(2, text);
    s.bind(3, words);
    s.bind(4, seconds);
    s.bind(5, language);
    s.step();
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
    while (s.step() == SQLITE_ROW) {
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
    return rows;
}

void Database::toggleFavorite(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        Statement s(db_, "UPDATE history SET favorite = 1 - favorite WHERE id=?");
        s.bind(1, id);
        s.step();
    }
    postHistoryChanged();
}

void Database::deleteHistory(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        Statement s(db_, "DELETE FROM history WHERE id=?");
        s.bind(1, id);
        s.step();
    }
    postHistoryChanged();
}

void Database::clearHistory() {
    {
        std::lock_guard lock(mutex_);
        exec("DELETE FROM history");
    }
    postHistoryChanged();
}

Database::Stats Database::stats() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT COUNT(*), COALESCE(SUM(words),0), COALESCE(SUM(seconds),0) FROM history");
    Stats out;
    if (s.step() == SQLITE_ROW) {
        out.count = s.int64(0);
        out.words = s.int64(1);
        out.seconds = s.real(2);
    }
    return out;
}

std::vector<DictRow> Database::dictAll() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id,term,replacement,enabled FROM dictionary ORDER BY term COLLATE NOCASE");
    std::vector<DictRow> rows;
    while (s.step() == SQLITE_ROW) {
        DictRow r;
        r.id = s.int64(0);
        r.term = s.text(1);
        r.replacement = s.text(2);
        r.enabled = s.int32(3) == 1;
        rows.push_back(std::move(r));
    }
    return rows;
}

void Database::dictAdd(const std::string& term, const std::string& replacement) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT INTO dictionary(term,replacement) VALUES(?,?)");
    s.bind(1, term);
    s.bind(2, replacement);
    s.step();
}

void Database::dictUpdate(const DictRow& row) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "UPDATE dictionary SET term=?,replacement=?,enabled=? WHERE id=?");
    s.bind(1, row.term);
    s.bind(2, row.replacement);
    s.bind(3, row.enabled ? 1 : 0);
    s.bind(4, row.id);
    s.step();
}

void Database::dictDelete(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM dictionary WHERE id=?");
    s.bind(1, id);
    s.step();
}
