// The signed-in account as the account service describes it.
#pragma once

#include "cloud/JsonDecoder.h"

#include <cstdint>
#include <optional>
#include <string>

struct UserProfile {
    std::string id;
    std::string email;
    std::string plan;  // opaque: "free" or one of the paid plans
    std::int64_t creditBalance = 0;
    std::optional<std::string> subscriptionStatus;

    bool operator==(const UserProfile&) const = default;

    static UserProfile fromJson(const nlohmann::json& j) {
        JsonDecoder::object(j, "user");
        UserProfile u;
        u.id = JsonDecoder::string(j, "id");
        u.email = JsonDecoder::string(j, "email");
        u.plan = JsonDecoder::string(j, "plan");
        u.creditBalance = JsonDecoder::integer(j, "creditBalance");
        u.subscriptionStatus = JsonDecoder::optionalString(j, "subscriptionStatus");
        return u;
    }
};
