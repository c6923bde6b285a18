// One dictation in the history.
#pragma once

#include <cstdint>
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
};
