#include "dictation/DictionaryEngine.h"

namespace DictionaryEngine {
std::string apply(const std::string& text) { return text; }
}
