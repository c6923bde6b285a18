// Unicode-aware text matching that the core needs without knowing the regex engine behind it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::TextMatch {

// Replaces every occurrence of `term` in `text` that stands as a whole word, ignoring case, with
// `replacement`. The term is matched literally (no character of it has a pattern meaning) and the
// replacement is inserted literally, exactly as given. Word characters and case folding follow
// Unicode, so "Київ" also matches "КИЇВ". A term that begins or ends with a non-word character
// matches only where a word character stands on the far side of that edge.
// Texts are UTF-8. Returns nullopt when no pattern can be made of the term; returns `text`
// unchanged (byte for byte) when nothing matches.
std::optional<std::string> replaceWholeWords(const std::string& text, const std::string& term,
                                             const std::string& replacement);

// The words of `text` as replaceWholeWords sees them (its runs of word characters), each
// case-folded, so that a term can only match where each of its own words stands as one of the
// text's words. Texts are UTF-8.
struct Words {
    std::vector<std::string> words;
    // False when the text holds a character that matches word and non-word characters alike when
    // case is ignored (U+0345 is one): its words then say nothing certain about a match.
    bool exact = true;
};
Words foldedWords(const std::string& text);

}  // namespace platform::TextMatch
