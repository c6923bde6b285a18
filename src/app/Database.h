// The history and dictionary store: one SQLite file, "wendaro.db" in the "Wendaro" folder of
// Application Support, opened once for the life of the process.
//
// Every operation takes the store's lock, runs its statement and returns the result; callers on
// any thread get plain return values. No operation reports a failure: when the file cannot be
// opened the store stays empty and writes do nothing. An operation must never be called from an
// observer of a notification while that same thread is inside the store (none is: notifications
// are posted after the lock is released).
#pragma once

#include "app/DictRow.h"
#include "app/HistoryRow.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

class Database {
public:
    // Posted after a change to the history (the controller posts it after insertHistory).
    static constexpr const char* historyChanged = "wendaro.historyChanged";

    // The tables; run on every open.
    static const char* const schema;
    // Adds the favourite column to stores made before it existed; fails harmlessly afterwards.
    static const char* const favoriteMigration;

    struct Stats {
        std::int64_t count = 0;
        std::int64_t words = 0;
        double seconds = 0;
        bool operator==(const Stats&) const = default;
    };

    struct Options {
        // Seconds since 1970 for new history rows; the system clock when empty.
        std::function<double()> now;
        // Called inside the legacy import after each row is written, before the commit (tests use
        // it to stop the process in the middle of an import).
        std::function<void(std::size_t rowsSoFar)> legacyRowImported;
    };

    // The store of this user: <Application Support>/Wendaro/wendaro.db.
    static Database& shared();
    static std::string defaultFolder();

    // Opens (creating when absent) <folder>/wendaro.db, brings its tables up to date and imports
    // <folder>/history.jsonl once.
    explicit Database(const std::string& folder, Options options = {});
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // History.
    void insertHistory(const std::string& text, int words, double seconds, const std::optional<std::string>& language);
    // Newest first; `search` (non-empty) is a LIKE pattern fragment: "%" and "_" act as wildcards.
    std::vector<HistoryRow> history(const std::string& search, bool favoritesOnly, int limit);
    void toggleFavorite(std::int64_t id);
    void deleteHistory(std::int64_t id);
    void clearHistory();
    Stats stats();

    // Dictionary, ordered by term without regard to ASCII case.
    std::vector<DictRow> dictAll();
    void dictAdd(const std::string& term, const std::string& replacement);
    void dictUpdate(const DictRow& row);
    void dictDelete(std::int64_t id);

    // The history query for these filters; the search pattern (if any) binds first, then the limit.
    static std::string historyQuery(const std::string& search, bool favoritesOnly);

    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }

private:
    void exec(const char* sql);
    void migrateJSONL(const std::string& folder);
    double now() const;
    void postHistoryChanged();

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::string path_;
    Options options_;
};
