// A transcript with the language it was spoken in, when the route reports one.
#pragma once

#include <optional>
#include <string>

struct WhisperResult {
    std::string text;
    std::optional<std::string> language;

    // Decodes {"text": "...", "language": "..."}: "text" must be a string; "language" may be
    // absent or null; other keys are ignored. Throws nlohmann::json::exception otherwise.
    static WhisperResult decode(const std::string& json);
};
