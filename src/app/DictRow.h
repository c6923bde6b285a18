// One dictionary entry.
#pragma once

#include <cstdint>
#include <string>

struct DictRow {
    std::int64_t id = 0;
    std::string term;
    std::string replacement;
    bool enabled = true;
};
