#include "platform/Defaults.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace platform {

namespace {
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}
}  // namespace

std::optional<std::string> Defaults::string(const std::string& key) const {
    auto v = object(key);
    if (v && std::holds_alternative<std::string>(*v)) return std::get<std::string>(*v);
    return std::nullopt;
}

bool Defaults::boolean(const std::string& key) const {
    auto v = object(key);
    if (!v) return false;
    if (auto b = std::get_if<bool>(&*v)) return *b;
    if (auto i = std::get_if<std::int64_t>(&*v)) return *i != 0;
    if (auto d = std::get_if<double>(&*v)) return *d != 0.0;
    const std::string s = lower(std::get<std::string>(*v));
    return s == "true" || s == "yes" || s == "1";
}

std::int64_t Defaults::integer(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (auto b = std::get_if<bool>(&*v)) return *b ? 1 : 0;
    if (auto i = std::get_if<std::int64_t>(&*v)) return *i;
    if (auto d = std::get_if<double>(&*v)) return static_cast<std::int64_t>(*d);
    return std::strtoll(std::get<std::string>(*v).c_str(), nullptr, 10);
}

}  // namespace platform
