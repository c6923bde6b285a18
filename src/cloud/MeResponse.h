// The reply of "me": the current account.
#pragma once

#include "cloud/UserProfile.h"

struct MeResponse {
    UserProfile user;

    static MeResponse fromJson(const nlohmann::json& j) {
        JsonDecoder::object(j, "reply");
        return MeResponse{UserProfile::fromJson(JsonDecoder::objectField(j, "user"))};
    }
};
