// The user's settings store: typed values (Bool, Int, Double, String) under string keys.
#pragma once

#include "platform/ServiceSlot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace platform {

using DefaultsValue = std::variant<bool, std::int64_t, double, std::string>;

class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<DefaultsValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, const DefaultsValue& value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Typed readers with the usual conversions: string() is nullopt unless a string is stored;
    // boolean() is false when absent, numbers are true when non-zero and strings when they read
    // "true"/"yes"/"1" (any case); integer() converts reals and numeric strings, 0 otherwise.
    std::optional<std::string> string(const std::string& key) const;
    bool boolean(const std::string& key) const;
    std::int64_t integer(const std::string& key) const;

    void setString(const std::string& key, const std::string& v) { set(key, DefaultsValue(v)); }
    void setBool(const std::string& key, bool v) { set(key, DefaultsValue(v)); }
    void setInt(const std::string& key, std::int64_t v) { set(key, DefaultsValue(v)); }
    void setDouble(const std::string& key, double v) { set(key, DefaultsValue(v)); }

    // The store of the running program (installed at start-up; tests install a MemoryDefaults).
    static Defaults& shared() { return ServiceSlot<Defaults>::get(); }
    static void setShared(Defaults* p) { ServiceSlot<Defaults>::set(p); }
};

}  // namespace platform
