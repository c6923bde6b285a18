// Unicode-aware text matching that the core needs without knowing the regex engine behind it.
#pragma once

#include <optional>
#include <string>

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

}  // namespace platform::TextMatch
