// The user's word replacements, applied to each finished transcript.
#pragma once

#include <string>

class Database;

namespace DictionaryEngine {

// Replaces each enabled term of the dictionary as a whole word, ignoring case, in dictionary
// order; each entry works on the output of the ones before it. Returns the text unchanged when
// the "dictApply" setting is off. The dictionary is read and made ready once after each change
// of it, not for every text.
std::string apply(const std::string& text);
// The same against a given store.
std::string apply(const std::string& text, Database& database);

}  // namespace DictionaryEngine
