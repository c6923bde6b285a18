// Strict reading of reply records: every required key must be present with the right type;
// optional keys may be absent or null; unknown keys are ignored. Failures throw DecodingError.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

class JsonDecoder {
public:
    // The parsed document; DecodingError when the text is not JSON.
    static nlohmann::json parse(const std::string& text);

    // `value` itself must be an object (`what` names it in the error).
    static const nlohmann::json& object(const nlohmann::json& value, const std::string& what);
    // Required members of an object.
    static const nlohmann::json& objectField(const nlohmann::json& obj, const std::string& key);
    static const nlohmann::json& arrayField(const nlohmann::json& obj, const std::string& key);
    static std::string string(const nlohmann::json& obj, const std::string& key);
    static std::int64_t integer(const nlohmann::json& obj, const std::string& key);
    // An optional string member: nullopt when absent or null.
    static std::optional<std::string> optionalString(const nlohmann::json& obj, const std::string& key);

private:
    static const nlohmann::json& required(const nlohmann::json& obj, const std::string& key);
};
