// The history and dictionary store (SQLite).
#pragma once

#include "app/DictRow.h"
#include "app/HistoryRow.h"

#include <optional>
#include <string>
#include <vector>

class Database {
public:
    static Database& shared();

    void insertHistory(const std::string& text, int words, double seconds, const std::optional<std::string>& language);
    std::vector<DictRow> dictAll();

private:
    Database();
};
