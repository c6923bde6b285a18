#include "platform/JsonFileDefaults.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {

namespace {

// nlohmann keeps integers and reals apart (a real is written with its decimal point), so a
// whole real such as a window position of 100.0 is still a real when it is read back.
std::optional<DefaultsValue> fromJson(const nlohmann::json& v) {
    if (v.is_boolean()) return DefaultsValue(v.get<bool>());
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
    QFile file(QString::fromStdString(path_));
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.readAll();
    file.close();
    const auto doc = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        // Never overwrite what the user had: keep it aside and start empty.
        const QString aside = QString::fromStdString(path_) + ".corrupt";
        QFile::remove(aside);
        QFile::rename(QString::fromStdString(path_), aside);
        return;
    }
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (auto v = fromJson(it.value())) values_[it.key()] = *v;
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
    save();
}

void JsonFileDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key)) save();
}

void JsonFileDefaults::save() const {
    nlohmann::json doc = nlohmann::json::object();
    for (const auto& [k, v] : values_) doc[k] = toJson(v);
    const QString path = QString::fromStdString(path_);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    const std::string text = doc.dump(2) + "\n";
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.commit();
}

}  // namespace platform
