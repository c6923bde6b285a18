#include "cloud/JsonDecoder.h"

#include "cloud/DecodingError.h"
#include "platform/Log.h"

#include <cmath>
#include <limits>

using nlohmann::json;

json JsonDecoder::parse(const std::string& text) {
    try {
        return json::parse(text);
    } catch (const json::exception& e) {
        // The parser's text quotes the reply, which may echo the request: only its error number.
        qCWarning(logCloud, "a reply is not JSON (parse error %d)", e.id);
        throw DecodingError(std::string("The reply is not valid JSON: ") + e.what());
    }
}

const json& JsonDecoder::object(const json& value, const std::string& what) {
    if (!value.is_object()) throw DecodingError("Expected an object for " + what);
    return value;
}

const json& JsonDecoder::required(const json& obj, const std::string& key) {
    if (!obj.is_object()) throw DecodingError("Expected an object holding \"" + key + "\"");
    auto it = obj.find(key);
    if (it == obj.end()) throw DecodingError("Missing key \"" + key + "\"");
    if (it->is_null()) throw DecodingError("Null value for key \"" + key + "\"");
    return *it;
}

const json& JsonDecoder::objectField(const json& obj, const std::string& key) {
    const json& v = required(obj, key);
    if (!v.is_object()) throw DecodingError("Expected an object for key \"" + key + "\"");
    return v;
}

const json& JsonDecoder::arrayField(const json& obj, const std::string& key) {
    const json& v = required(obj, key);
    if (!v.is_array()) throw DecodingError("Expected an array for key \"" + key + "\"");
    return v;
}

std::string JsonDecoder::string(const json& obj, const std::string& key) {
    const json& v = required(obj, key);
    if (!v.is_string()) throw DecodingError("Expected a string for key \"" + key + "\"");
    return v.get<std::string>();
}

std::int64_t JsonDecoder::integer(const json& obj, const std::string& key) {
    const json& v = required(obj, key);
    if (v.is_number_integer()) {
        if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw DecodingError("Integer out of range for key \"" + key + "\"");
        return v.get<std::int64_t>();
    }
    // A real number is accepted only when it is a whole number that fits (5.0 reads as 5).
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18) return static_cast<std::int64_t>(d);
    }
    throw DecodingError("Expected an integer for key \"" + key + "\"");
}

std::optional<std::string> JsonDecoder::optionalString(const json& obj, const std::string& key) {
    if (!obj.is_object()) throw DecodingError("Expected an object holding \"" + key + "\"");
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw DecodingError("Expected a string for key \"" + key + "\"");
    return it->get<std::string>();
}
