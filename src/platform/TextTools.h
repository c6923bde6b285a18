// Unicode helpers for core code that keeps text as UTF-8 std::string (and for the fields of the
// windows, as QString).
#pragma once

#include <QString>

#include <string>

namespace platform::TextTools {

// True when `bytes` is well-formed UTF-8.
bool isUtf8(const std::string& bytes);
// `text` without leading and trailing white space and line ends.
std::string trimmed(const std::string& text);
// A field's text without leading and trailing spaces of every kind (no-break ones included) and
// tabs. Line breaks stay: a field that holds one was filled in by mistake, and the check that
// follows should see it rather than have it quietly dropped.
QString trimmedSpacesAndTabs(const QString& text);
// The first `count` user-perceived characters (grapheme clusters) of UTF-8 text.
std::string firstCharacters(const std::string& text, int count);

// `text` fit to paste: without NUL, DEL and the other C0 and C1 control characters, tab and line
// feed excepted (a carriage return before a line feed goes, one on its own becomes a line feed).
// Ill-formed UTF-8 is replaced by U+FFFD.
std::string withoutControls(const std::string& text);
// The same for a terminal, where a line break would run the line typed so far as a command:
// every control character left (tab, line feed) and the Unicode line and paragraph separators
// become spaces.
std::string forTerminal(const std::string& text);

}  // namespace platform::TextTools
