#include "dictation/DictionaryEngine.h"

#include "app/state/AppSettings.h"
#include "app/state/Database.h"
#include "platform/TextMatch.h"

namespace DictionaryEngine {

std::string apply(const std::string& text) {
    if (!AppSettings::shared().applyDictionary()) return text;
    return apply(text, Database::shared());
}

std::string apply(const std::string& text, Database& database) {
    if (!AppSettings::shared().applyDictionary()) return text;
    std::string current = text;
    for (const DictRow& row : database.dictAll()) {
        if (!row.enabled || row.term.empty()) continue;
        if (auto replaced = platform::TextMatch::replaceWholeWords(current, row.term, row.replacement))
            current = std::move(*replaced);
    }
    return current;
}

}  // namespace DictionaryEngine
