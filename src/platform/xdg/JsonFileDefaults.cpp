#include "platform/xdg/JsonFileDefaults.h"

#include "platform/Paths.h"

#include <nlohmann/json.hpp>

#include <QFile>
#include <QtGlobal>

#include <cstdint>

#include <filesystem>

namespace platform {

namespace {

// nlohmann keeps integers and reals apart (a real is written with its decimal point), so a
// whole real such as a window position of 100.0 is still a real when it is read back.
std::optional<DefaultsValue> fromJson(const nlohmann::json& v) {
    if (v.is_boolean()) return DefaultsValue(v.get<bool>());
    // An integer beyond 64 bits of sign would not come back as it was.
    if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    if (v.is_number_integer()) return DefaultsValue(v.get<std::int64_t>());
    if (v.is_number_float()) return DefaultsValue(v.get<double>());
    if (v.is_string()) return DefaultsValue(v.get<std::string>());
    return std::nullopt;
}

nlohmann::json toJson(const DefaultsValue& v) {
    return std::visit([](const auto& x) { return nlohmann::json(x); }, v);
}

}  // namespace

JsonFileDefaults::JsonFileDefaults(std::string path) : path_(std::move(path)) {
    // The settings (and copies kept aside) are the user's alone, also when an older run left
    // them readable by others.
    Paths::makePrivateFolder(std::filesystem::path(path_).parent_path().string());
    QFile file(QString::fromStdString(path_));
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable now is not empty: the next save must not replace it.
        Paths::setAside(path_, ".corrupt");
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    const auto doc = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        // Never overwrite what the user had, nor a copy kept aside earlier: keep it aside under
        // the next free name and start empty.
        Paths::setAside(path_, ".corrupt");
        return;
    }
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        if (auto v = fromJson(it.value())) values_[it.key()] = *v;
        else foreign_[it.key()] = it.value();
    }
}

std::optional<DefaultsValue> JsonFileDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void JsonFileDefaults::set(const std::string& key, const DefaultsValue& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
    foreign_.erase(key);
    save();
}

void JsonFileDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    const bool removed = values_.erase(key) + foreign_.erase(key) > 0;
    if (removed) save();
}

void JsonFileDefaults::save() const {
    nlohmann::json doc = nlohmann::json::object();
    for (const auto& [k, v] : foreign_) doc[k] = v;
    for (const auto& [k, v] : values_) doc[k] = toJson(v);
    Paths::makePrivateFolder(std::filesystem::path(path_).parent_path().string());
    // Every value stays in memory: a save that fails now (a full disk) is made good by the next.
    if (!Paths::writePrivateFile(path_, doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n"))
        qWarning("[Defaults] cannot write %s: the settings are kept in memory until a later save succeeds",
                 path_.c_str());
}

}  // namespace platform
