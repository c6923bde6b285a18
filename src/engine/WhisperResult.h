// A transcript with the language it was spoken in, when the route reports one.
#pragma once

#include <optional>
#include <string>

struct WhisperResult {
    std::string text;
    std::optional<std::string> language;
};
