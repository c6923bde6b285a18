#include "platform/JsonFileDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include <cmath>

namespace platform {

namespace {

// QJsonValue keeps every number as a double; integers are told apart by the text of the file.
std::optional<DefaultsValue> fromJson(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::Bool:
        return DefaultsValue(v.toBool());
    case QJsonValue::String:
        return DefaultsValue(v.toString().toStdString());
    case QJsonValue::Double: {
        const double d = v.toDouble();
        const QVariant var = v.toVariant();
        if (var.typeId() == QMetaType::LongLong || var.typeId() == QMetaType::Int ||
            var.typeId() == QMetaType::ULongLong)
            return DefaultsValue(static_cast<std::int64_t>(var.toLongLong()));
        return DefaultsValue(d);
    }
    default:
        return std::nullopt;
    }
}

QJsonValue toJson(const DefaultsValue& v) {
    if (auto b = std::get_if<bool>(&v)) return QJsonValue(*b);
    if (auto i = std::get_if<std::int64_t>(&v)) return QJsonValue(static_cast<qint64>(*i));
    if (auto d = std::get_if<double>(&v)) return QJsonValue(*d);
    return QJsonValue(QString::fromStdString(std::get<std::string>(v)));
}

}  // namespace

JsonFileDefaults::JsonFileDefaults(std::string path) : path_(std::move(path)) {
    QFile file(QString::fromStdString(path_));
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.readAll();
    file.close();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        const QString aside = QString::fromStdString(path_) + ".corrupt";
        QFile::remove(aside);
        QFile::rename(QString::fromStdString(path_), aside);
        return;
    }
    const QJsonObject obj = doc.object();
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        if (auto v = fromJson(it.value())) values_[it.key().toStdString()] = *v;
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
    save();
}

void JsonFileDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key)) save();
}

void JsonFileDefaults::save() const {
    QJsonObject obj;
    for (const auto& [k, v] : values_) obj.insert(QString::fromStdString(k), toJson(v));
    const QString path = QString::fromStdString(path_);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QJsonDocument(obj).toJson(QJsonDocument::Indented));
    file.commit();
}

}  // namespace platform
