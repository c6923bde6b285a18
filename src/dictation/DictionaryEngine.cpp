#include "dictation/DictionaryEngine.h"

#include "state/AppSettings.h"
#include "state/Database.h"
#include "dictation/DictionaryIndex.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace DictionaryEngine {

namespace {

// The dictionary as last made ready, and the store version it was read at (versions differ
// between stores, so one slot serves whichever store is asked).
struct Ready {
    std::mutex mutex;
    std::uint64_t version = 0;
    std::shared_ptr<const DictionaryIndex> index;
};

std::shared_ptr<const DictionaryIndex> readyIndex(Database& database) {
    static Ready ready;
    std::lock_guard lock(ready.mutex);
    const std::uint64_t version = database.dictionaryVersion();
    if (!ready.index || ready.version != version) {
        ready.index = std::make_shared<const DictionaryIndex>(database.dictAll());
        ready.version = version;
    }
    return ready.index;
}

}  // namespace

std::string apply(const std::string& text) {
    if (!AppSettings::shared().applyDictionary()) return text;
    return apply(text, Database::shared());
}

std::string apply(const std::string& text, Database& database) {
    if (!AppSettings::shared().applyDictionary()) return text;
    return readyIndex(database)->apply(text);
}

}  // namespace DictionaryEngine
