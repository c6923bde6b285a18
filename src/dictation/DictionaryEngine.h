// The user's word replacements applied to a transcript.
#pragma once

#include <string>

namespace DictionaryEngine {
std::string apply(const std::string& text);
}
