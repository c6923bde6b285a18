// One dictation in the history.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

struct HistoryRow {
    std::int64_t id = 0;
    double ts = 0;  // the moment it was stored, seconds since 1970
    std::string text;
    int words = 0;
    double seconds = 0;  // length of the recording
    std::optional<std::string> language;
    bool favorite = false;

    bool operator==(const HistoryRow&) const = default;

    // A word count read from a file, held within the range of `words`.
    static int clampedWords(std::int64_t count) {
        if (count > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
        if (count < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
        return static_cast<int>(count);
    }
};
