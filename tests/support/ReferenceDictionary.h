// The dictionary replacement as it first was, kept as the yardstick for the indexed one: every
// enabled entry with a term, in the order given, replaced as a whole word on the output of the
// entries before it. Slow on purpose: one pattern per entry per text.
#pragma once

#include "state/DictRow.h"
#include "platform/TextMatch.h"

#include <string>
#include <vector>

namespace test {

inline std::string referenceDictionaryApply(const std::string& text, const std::vector<DictRow>& rows) {
    std::string current = text;
    for (const DictRow& row : rows) {
        if (!row.enabled || row.term.empty()) continue;
        if (auto replaced = platform::TextMatch::replaceWholeWords(current, row.term, row.replacement))
            current = std::move(*replaced);
    }
    return current;
}

}  // namespace test
