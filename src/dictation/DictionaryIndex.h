// The enabled dictionary made ready for many transcripts: each entry is filed under its first
// word (case-folded), so a transcript tries only the entries whose words it holds, in dictionary
// order, instead of every entry. The result is the same as trying every entry in turn: an entry
// still works on the output of the ones before it, and the words a replacement brings in bring in
// the later entries filed under them.
#pragma once

#include "state/DictRow.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class DictionaryIndex {
public:
    DictionaryIndex() = default;
    // Keeps the enabled rows with a term, in the order given.
    explicit DictionaryIndex(const std::vector<DictRow>& rows);

    // Replaces each entry's term where it stands as a whole word, ignoring case, entry by entry;
    // the replacement goes in exactly as stored. Text without a match comes back byte for byte.
    std::string apply(const std::string& text) const;

    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::string term;
        std::string replacement;
        std::vector<std::uint32_t> words;  // ids of the term's folded words; empty: tried on every text
    };

    // The ids of the known folded words of `text`.
    std::vector<std::uint32_t> wordIds(const std::string& text) const;

    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::uint32_t> wordIds_;
    std::vector<std::vector<std::uint32_t>> byFirstWord_;  // word id -> entries filed under it, ascending
    std::vector<std::uint32_t> everyText_;                 // entries tried on every text, ascending
};
