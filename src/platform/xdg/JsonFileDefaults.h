// The settings store on disk: one JSON object, read once, rewritten atomically on every change.
#pragma once

#include "platform/Defaults.h"

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>

namespace platform {

class JsonFileDefaults : public Defaults {
public:
    // Reads `path` if it exists; an unreadable or malformed file starts empty and is kept aside
    // as "<path>.corrupt" (".corrupt.2" and on when that name is taken) so that nothing the user
    // had is silently overwritten. The file is written 0600 in a 0700 folder. A value of a type
    // no setting has (an array, an object, null) is not a setting of ours: it reads as absent and
    // stays in the file as it is. A change that cannot be written is kept in memory and goes to
    // the file with the next save that succeeds.
    explicit JsonFileDefaults(std::string path);

    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, const DefaultsValue& value) override;
    void remove(const std::string& key) override;

    const std::string& path() const { return path_; }

private:
    void save() const;

    std::string path_;
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue> values_;
    std::map<std::string, nlohmann::json> foreign_;  // values of other types, written back untouched
};

}  // namespace platform
