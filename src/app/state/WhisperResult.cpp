#include "app/state/WhisperResult.h"

#include <nlohmann/json.hpp>

WhisperResult WhisperResult::decode(const std::string& json) {
    const nlohmann::json doc = nlohmann::json::parse(json);
    WhisperResult result;
    result.text = doc.at("text").get<std::string>();
    if (auto it = doc.find("language"); it != doc.end() && !it->is_null()) result.language = it->get<std::string>();
    return result;
}
