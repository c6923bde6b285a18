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

    // A language code as routes report them ("en", "uk", "zh-Hans"): one to 35 ASCII letters and
    // hyphens, beginning with a letter. Anything else is not taken for one.
    static bool isLanguageCode(const std::string& code);
};
