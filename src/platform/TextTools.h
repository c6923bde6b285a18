// Unicode helpers for core code that keeps text as UTF-8 std::string.
#pragma once

#include <string>

namespace platform::TextTools {

// True when `bytes` is well-formed UTF-8.
bool isUtf8(const std::string& bytes);
// `text` without leading and trailing white space and line ends.
std::string trimmed(const std::string& text);
// The first `count` user-perceived characters (grapheme clusters) of UTF-8 text.
std::string firstCharacters(const std::string& text, int count);

}  // namespace platform::TextTools
