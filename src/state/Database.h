// The history and dictionary store: one SQLite file, "wendaro.db" in the "Wendaro" folder of
// Application Support, opened once for the life of the process.
//
// Every operation takes the store's lock, runs its statement and returns the result; callers on
// any thread get plain return values. A statement waits a few seconds for another process's lock;
// its failure is logged, and reads then come back empty. An operation must never be called from
// an observer of a notification while that same thread is inside the store (none is:
// notifications are posted after the lock is released).
//
// No dictated row is lost. A history row the store cannot take now (another process holds the
// lock, the file is read-only, the disk is full) is kept: in memory and in "pending-history.jsonl"
// beside the store, so that it outlives a crash or a quit (or, when that file cannot be written
// either, in a spare file on another file system). Kept rows are written at the next
// history write, on a timer of the main scheduler, when the store closes and when it opens next
// time; each lands exactly once; while they cannot, the tries grow further apart. A file that is
// not a sound SQLite database (found at opening, or by the check that runs in the background after
// it) is never written to or deleted: it is moved aside as "wendaro.db.corrupt" (".corrupt.2" and
// on; its journal files go with it), a fresh store takes its place, and every row that can still
// be read is copied into it. So is anything at the store's path that is not a plain file (a link,
// a folder, a device) or that cannot be opened. A store made by a newer version (a column we would
// have to fill in) is read but never altered: new rows are kept. The store's files are the user's alone (0600, in a
// 0700 folder).
#pragma once

#include "state/DictRow.h"
#include "state/HistoryRow.h"
#include "state/PendingHistory.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;

namespace platform {
class Scheduler;
}

class Database {
public:
    // Posted after a change to the history (the controller posts it after insertHistory).
    static constexpr const char* historyChanged = "wendaro.historyChanged";

    // The tables; run on every open.
    static const char* const schema;
    // Adds the favourite column to stores made before it existed; fails harmlessly afterwards.
    static const char* const favoriteMigration;
    // The history newest first and the dictionary by term are read without sorting them whole;
    // made on every open.
    static const char* const readIndexes;

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
        // Where kept rows go when the pending file beside the store cannot be written (a full
        // disk), made when `create` is true; "" for nowhere (no function: nowhere). The shared
        // store uses the spare folder of the platform.
        std::function<std::string(bool create)> spareFolder;
        // Tells the user something about the store in a sentence (a damaged file recovered, a
        // file that cannot be used); called at most once per fact, on any thread.
        std::function<void(const std::string&)> tell;
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

    // The file beside the store that keeps history rows not yet written.
    static constexpr const char* pendingFileName = PendingHistory::fileName;

    // History.
    // Writes the row, together with any kept earlier; true when it is in the store now. Waits only
    // a moment for another process's lock: when the store cannot take the row it is kept and
    // written later (see above), and historyChanged is posted when it lands.
    bool insertHistory(const std::string& text, int words, double seconds, const std::optional<std::string>& language);
    // Writes the kept rows if the store can take them now; posts historyChanged when some landed.
    // True when none is waiting afterwards.
    bool retryPending();
    std::size_t pendingCount();
    // Newest first; `search` (non-empty) is a LIKE pattern fragment: "%" and "_" act as wildcards.
    std::vector<HistoryRow> history(const std::string& search, bool favoritesOnly, int limit);
    void toggleFavorite(std::int64_t id);
    void deleteHistory(std::int64_t id);
    // Kept rows not yet written go too.
    void clearHistory();
    Stats stats();
    // The number of stored transcripts.
    std::int64_t historyCount();

    // Dictionary, ordered by term without regard to ASCII case.
    std::vector<DictRow> dictAll();
    // True when the change is in the store (false: the file cannot be written now).
    bool dictAdd(const std::string& term, const std::string& replacement);
    bool dictUpdate(const DictRow& row);
    void dictDelete(std::int64_t id);
    // Moves on with every change of the dictionary made here and every reopening of the file, and
    // differs between stores: what was built from dictAll() holds while it reads the same.
    std::uint64_t dictionaryVersion() const { return dictVersion_.load(); }

    // The history query for these filters; the search pattern (if any) binds first, then the limit.
    static std::string historyQuery(const std::string& search, bool favoritesOnly);

    bool isOpen() const { return db_ != nullptr; }
    // Waits for the check of the file that runs in the background after opening (tests).
    void waitForCheck();
    const std::string& path() const { return path_; }

private:
    enum class Flush { written, kept };

    int exec(const char* sql);
    // Logs a failed statement; a file found unsound or read-only is reopened at the next write.
    void check(int rc, const char* what);
    void openStore(bool setAsideAllowed = true);
    void closeStore(bool leaveFilesAsTheyAre = false);
    bool looksCorrupt();
    // The new name of the file, or "" when it could not be moved.
    std::string setAsideCorrupt();
    // The store was made by a newer version: a column we do not know must be filled in.
    bool hasForeignSchema();
    void backgroundCheck();
    // Moves the unusable file aside, opens a fresh store and copies into it what can be read of
    // the old one; false when the file could not be moved.
    bool replaceStore();
    // Copies every readable row of the set-aside file into the store; the history rows copied.
    std::size_t recoverFrom(const std::string& aside);
    void tellOnce(const std::string& fact, const std::string& sentence);
    void migrateJSONL(const std::string& folder);
    Flush flushPending();
    void scheduleRetry();
    double now() const;
    void postHistoryChanged();
    static std::uint64_t nextDictionaryVersion();

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    // The connection can take writes as far as is known: the tables are in place and the file is
    // not read-only. Otherwise the next write opens the file again first.
    bool writable_ = false;
    std::string folder_;
    std::string path_;
    Options options_;
    PendingHistory pending_;
    bool closing_ = false;
    platform::Scheduler* retryScheduler_ = nullptr;  // the scheduler of the armed retry, if any
    double retryDelay_ = 0;  // grows while the kept rows cannot be written, back to the first once they are
    // The file belongs to a newer version and is not written to.
    bool foreignSchema_ = false;
    std::vector<std::string> told_;
    std::uint64_t generation_ = 0;  // counts the files that took the store's place
    // The check after opening, on a thread of its own and with a connection of its own.
    std::mutex checkMutex_;
    sqlite3* checkConnection_ = nullptr;
    bool stopCheck_ = false;
    std::thread checker_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::atomic<std::uint64_t> dictVersion_{nextDictionaryVersion()};
};
