#include "dictation/DictionaryIndex.h"

#include "platform/TextMatch.h"

#include <algorithm>
#include <set>

DictionaryIndex::DictionaryIndex(const std::vector<DictRow>& rows) {
    for (const DictRow& row : rows) {
        if (!row.enabled || row.term.empty()) continue;
        const auto index = static_cast<std::uint32_t>(entries_.size());
        Entry entry{row.term, row.replacement, {}};
        // A term whose words say nothing certain (none at all, or a character that is a word
        // character in one case and not in another) is tried on every text.
        const platform::TextMatch::Words words = platform::TextMatch::foldedWords(row.term);
        if (words.exact && !words.words.empty()) {
            for (const std::string& w : words.words) {
                auto [it, added] = wordIds_.try_emplace(w, static_cast<std::uint32_t>(wordIds_.size()));
                if (added) byFirstWord_.emplace_back();
                entry.words.push_back(it->second);
            }
            byFirstWord_[entry.words.front()].push_back(index);
        } else {
            everyText_.push_back(index);
        }
        entries_.push_back(std::move(entry));
    }
}

std::vector<std::uint32_t> DictionaryIndex::wordIds(const std::string& text) const {
    std::vector<std::uint32_t> ids;
    for (const std::string& w : platform::TextMatch::foldedWords(text).words)
        if (auto it = wordIds_.find(w); it != wordIds_.end()) ids.push_back(it->second);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::string DictionaryIndex::apply(const std::string& text) const {
    if (entries_.empty()) return text;
    std::vector<std::uint32_t> present = wordIds(text);
    std::vector<bool> seen(wordIds_.size(), false);
    std::set<std::uint32_t> due(everyText_.begin(), everyText_.end());
    for (std::uint32_t id : present) {
        seen[id] = true;
        due.insert(byFirstWord_[id].begin(), byFirstWord_[id].end());
    }

    std::string current = text;
    while (!due.empty()) {
        const std::uint32_t index = *due.begin();
        due.erase(due.begin());
        const Entry& entry = entries_[index];
        // Every word of the term must stand in the text as a word of its own.
        const bool possible = std::all_of(entry.words.begin(), entry.words.end(), [&](std::uint32_t id) {
            return std::binary_search(present.begin(), present.end(), id);
        });
        if (!possible) continue;
        auto replaced = platform::TextMatch::replaceWholeWords(current, entry.term, entry.replacement);
        if (!replaced || *replaced == current) continue;
        current = std::move(*replaced);
        // Words the replacement brought in (or made, joining its neighbours) bring in the later
        // entries filed under them; the earlier entries have had their turn.
        present = wordIds(current);
        for (std::uint32_t id : present) {
            if (seen[id]) continue;
            seen[id] = true;
            const auto& filed = byFirstWord_[id];
            due.insert(std::upper_bound(filed.begin(), filed.end(), index), filed.end());
        }
    }
    return current;
}
