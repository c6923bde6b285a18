// One dictionary entry: a term as recognition mishears it and what replaces it.
#pragma once

#include <cstdint>
#include <string>

struct DictRow {
    std::int64_t id = 0;
    std::string term;
    std::string replacement;
    bool enabled = true;

    bool operator==(const DictRow&) const = default;
};
