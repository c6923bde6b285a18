// The history as a CSV file: a header line, then one line per transcript, oldest first:
// timestamp (UTC, ISO 8601, whole seconds), words, seconds, language, and the text always in
// double quotes with its quotes doubled. UTF-8, no byte-order mark, lines ended by "\n".
#pragma once

#include "state/HistoryRow.h"

#include <string>
#include <vector>

class HistoryCsv {
public:
    HistoryCsv() = delete;

    static constexpr const char* header = "timestamp,words,seconds,language,text\n";

    // The file for rows given newest first, as the store returns them.
    static std::string text(const std::vector<HistoryRow>& newestFirst);
    static std::string line(const HistoryRow& row);

    // 2025-03-03T17:41:09Z (the fraction of a second dropped).
    static std::string timestamp(double ts);
    // The shortest decimal text that reads back to the same value, always with a fraction or an
    // exponent: 7.9, 12.0, 0.45.
    static std::string seconds(double value);
    // "…" with every quote inside doubled.
    static std::string quoted(const std::string& text);
};
