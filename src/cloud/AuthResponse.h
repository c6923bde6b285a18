// The reply of log-in, sign-up and token renewal.
#pragma once

#include "cloud/TokenPair.h"
#include "cloud/UserProfile.h"

struct AuthResponse {
    UserProfile user;
    TokenPair tokens;

    static AuthResponse fromJson(const nlohmann::json& j) {
        JsonDecoder::object(j, "reply");
        return AuthResponse{UserProfile::fromJson(JsonDecoder::objectField(j, "user")),
                            TokenPair::fromJson(JsonDecoder::objectField(j, "tokens"))};
    }
};
