// The history rows the store could not take yet: in memory and in "pending-history.jsonl" beside
// the store, so that they outlive a crash or a quit. When that file cannot be written (a full
// disk) they go to a spare file on another file system, named after the store's folder; both are
// read at the next start. The file is replaced whole, so a crash leaves either the old or the new
// list, never half a line; it goes once nothing is kept.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class PendingHistory {
public:
    static constexpr const char* fileName = "pending-history.jsonl";

    struct Row {
        double ts = 0;
        std::string text;
        int words = 0;
        double seconds = 0;
        std::optional<std::string> language;
        // Never tried: it cannot be in the store already, so it needs no check before its insert.
        bool fresh = false;
    };

    // `spareFolder` gives the folder for the spare file, made when asked to `create` it; "" (or
    // no function) for none.
    PendingHistory(std::string folder, std::function<std::string(bool create)> spareFolder);

    const std::vector<Row>& rows() const { return rows_; }
    bool empty() const { return rows_.empty(); }
    std::size_t size() const { return rows_.size(); }
    // Keeps one more row (in memory; `save` writes the file).
    void add(Row row) { rows_.push_back(std::move(row)); }
    // Every row has been tried: whether it landed is unknown until it is seen in the store.
    void markTried();
    // Forgets every row and removes the files.
    void clear();

    // Adds the rows of the pending file and of the spare file; a row already kept, or in both
    // files, is one row. They are not fresh: they may have landed before the file was updated.
    void load();
    // Writes the file to hold exactly the kept rows (the spare file when it cannot).
    void save();

private:
    std::string spareFile(bool create) const;

    std::string folder_;
    std::function<std::string(bool)> spareFolder_;
    std::vector<Row> rows_;
};
