// The one-time import of the older line-per-record history, "history.jsonl" in the store's
// folder. All rows go in one transaction and the file is renamed only after the commit, so an
// import cut short (a crash, a full disk) leaves the file in place and nothing half-imported: the
// next launch imports it whole, exactly once.
#pragma once

#include "state/HistoryRow.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

struct sqlite3;

class LegacyHistoryImport {
public:
    static constexpr const char* fileName = "history.jsonl";

    // Reads <folder>/history.jsonl; there is nothing to import when it is absent, cannot be read
    // or is not UTF-8.
    explicit LegacyHistoryImport(const std::string& folder);

    bool found() const { return content_.has_value(); }
    // Writes every line that decodes into `db` in one transaction; `rowImported` is called after
    // each row, before the commit. False when nothing was written (the file then stays for a later
    // launch).
    bool writeInto(sqlite3* db, const std::function<void(std::size_t rowsSoFar)>& rowImported) const;
    // Renames the imported file, never over an earlier imported one: that may be the user's only
    // copy of those lines.
    void setFileAside() const;

    // A line of the file ({"ts", "text", "words", "seconds"[, "language"]}) as a row without id,
    // or nothing when it is not a whole record.
    static std::optional<HistoryRow> decode(const std::string& line);
    // An internet date-time without fractional seconds ("2024-05-01T12:30:00Z", or with a
    // "+02:00" style offset) as seconds since 1970.
    static std::optional<double> parseInternetDateTime(const std::string& s);

private:
    std::string file_;
    std::optional<std::string> content_;
};
