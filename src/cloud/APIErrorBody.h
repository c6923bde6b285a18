// The error envelope of a failed account-service call: {"error": {"code": ..., "message": ...}}.
#pragma once

#include "cloud/JsonDecoder.h"

#include <string>

struct APIErrorBody {
    struct Inner {
        std::string code;
        std::string message;
    };
    Inner error;

    static APIErrorBody fromJson(const nlohmann::json& j) {
        JsonDecoder::object(j, "reply");
        const auto& inner = JsonDecoder::objectField(j, "error");
        return APIErrorBody{{JsonDecoder::string(inner, "code"), JsonDecoder::string(inner, "message")}};
    }
};
