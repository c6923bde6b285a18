// The rows a RowList shows, each with a store id. `sync` brings the shown rows to a fresh read by
// inserting, updating and removing only the rows that differ, so one change touches one row; when
// many differ (another search) it starts afresh, as `reset` does.
#pragma once

#include <QAbstractListModel>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

template <class Row>
class RowListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    QVariant data(const QModelIndex&, int) const override { return {}; }

    // Mixes a row's parts into one number for RowList's key.
    static std::int64_t mix(std::int64_t seed, std::int64_t value) {
        auto h = static_cast<std::uint64_t>(seed) ^ (static_cast<std::uint64_t>(value) + 0x9e3779b97f4a7c15ULL +
                                                     (static_cast<std::uint64_t>(seed) << 6) +
                                                     (static_cast<std::uint64_t>(seed) >> 2));
        return static_cast<std::int64_t>(h);
    }
    static std::int64_t mix(std::int64_t seed, const std::string& text) {
        return mix(seed, static_cast<std::int64_t>(std::hash<std::string>{}(text)));
    }

    const Row& at(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<Row>& rows() const { return rows_; }

    // The row looks different though its data did not change.
    void touch(int row) {
        if (row >= 0 && row < rowCount()) emit dataChanged(index(row), index(row));
    }

    void reset(std::vector<Row> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    void sync(std::vector<Row> rows) {
        // Beyond a few differences a fresh start costs less than the steps.
        constexpr std::size_t kMaxSteps = 32;
        std::unordered_set<std::int64_t> fresh;
        for (const Row& r : rows) fresh.insert(r.id);
        std::size_t gone = 0;
        for (const Row& r : rows_) gone += fresh.count(r.id) ? 0 : 1;
        if (gone > kMaxSteps) return reset(std::move(rows));
        for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
            if (fresh.count(rows_[static_cast<std::size_t>(i)].id)) continue;
            beginRemoveRows({}, i, i);
            rows_.erase(rows_.begin() + i);
            endRemoveRows();
        }
        std::size_t steps = gone;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i < rows_.size() && rows_[i].id == rows[i].id) {
                if (!(rows_[i] == rows[i])) {
                    rows_[i] = rows[i];
                    emit dataChanged(index(int(i)), index(int(i)));
                }
                continue;
            }
            if (++steps > kMaxSteps) return reset(std::move(rows));
            // Moved here from further down (an edit that changes the order): out there, in here.
            for (std::size_t j = i + 1; j < rows_.size(); ++j) {
                if (rows_[j].id != rows[i].id) continue;
                beginRemoveRows({}, int(j), int(j));
                rows_.erase(rows_.begin() + std::ptrdiff_t(j));
                endRemoveRows();
                break;
            }
            beginInsertRows({}, int(i), int(i));
            rows_.insert(rows_.begin() + std::ptrdiff_t(i), rows[i]);
            endInsertRows();
        }
        if (rows_.size() > rows.size()) {  // only when ids repeat, which a store never gives
            reset(std::move(rows));
        }
    }

private:
    std::vector<Row> rows_;
};
