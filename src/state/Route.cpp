#include "state/Route.h"

namespace {
constexpr const char* kLocal = "local";
constexpr const char* kAccount = "tovrin";
}  // namespace

Route Route::parse(const std::string& stored) {
    if (stored == kLocal) return local();
    if (stored == kAccount) return account();
    if (const auto provider = ProviderModels::fromIdentifier(stored)) return cloud(*provider);
    return Route(Kind::unknown, std::nullopt);
}

std::string Route::stored() const {
    switch (kind_) {
    case Kind::local: return kLocal;
    case Kind::account: return kAccount;
    case Kind::cloud: return ProviderModels::of(*cloud_).identifier;
    case Kind::unknown: break;
    }
    return {};
}
