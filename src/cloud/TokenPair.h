// The tokens of a sign-in or a renewal. Both tokens are opaque; `expiresIn` is required on the
// wire but the client does not use it (an expired access token shows up as HTTP 401).
#pragma once

#include "cloud/JsonDecoder.h"

#include <cstdint>
#include <string>

struct TokenPair {
    std::string accessToken;
    std::string refreshToken;
    std::int64_t expiresIn = 0;

    static TokenPair fromJson(const nlohmann::json& j) {
        JsonDecoder::object(j, "tokens");
        TokenPair t;
        t.accessToken = JsonDecoder::string(j, "accessToken");
        t.refreshToken = JsonDecoder::string(j, "refreshToken");
        t.expiresIn = JsonDecoder::integer(j, "expiresIn");
        return t;
    }
};
