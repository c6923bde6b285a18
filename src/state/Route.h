// Where a recording's speech becomes text, as the "provider" setting names it: "local" (the
// on-device server), "tovrin" (the account service) or a cloud provider's identifier. The
// stored string is parsed here and nowhere else.
#pragma once

#include "state/ProviderModels.h"

#include <optional>
#include <string>

class Route {
public:
    enum class Kind {
        local,    // "local"
        account,  // "tovrin"
        cloud,    // a provider of ProviderModels, with the user's own key
        unknown,  // anything else (a later version's provider): nothing is shown or started for
                  // it, and a recording goes to the on-device server
    };

    static Route parse(const std::string& stored);
    static Route local() { return Route(Kind::local, std::nullopt); }
    static Route account() { return Route(Kind::account, std::nullopt); }
    static Route cloud(CloudProvider provider) { return Route(Kind::cloud, provider); }

    Kind kind() const { return kind_; }
    bool isLocal() const { return kind_ == Kind::local; }
    bool isAccount() const { return kind_ == Kind::account; }
    // The cloud provider of a cloud route, nullopt for any other.
    std::optional<CloudProvider> cloudProvider() const { return cloud_; }
    // The value the setting stores for this route; "" for an unknown one.
    std::string stored() const;

    bool operator==(const Route&) const = default;

private:
    Route(Kind kind, std::optional<CloudProvider> cloud) : kind_(kind), cloud_(cloud) {}

    Kind kind_;
    std::optional<CloudProvider> cloud_;
};
