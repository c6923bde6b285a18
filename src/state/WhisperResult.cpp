#include "state/WhisperResult.h"

#include <nlohmann/json.hpp>

bool WhisperResult::isLanguageCode(const std::string& code) {
    if (code.empty() || code.size() > 35) return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(code.front())) return false;
    for (char c : code)
        if (!letter(c) && c != '-') return false;
    return true;
}

WhisperResult WhisperResult::decode(const std::string& json) {
    const nlohmann::json doc = nlohmann::json::parse(json);
    WhisperResult result;
    result.text = doc.at("text").get<std::string>();
    if (auto it = doc.find("language"); it != doc.end() && !it->is_null()) result.language = it->get<std::string>();
    return result;
}
