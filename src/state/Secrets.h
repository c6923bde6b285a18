// The user's provider API keys in the keychain (service "app.tovrin.mac.secrets").
#pragma once

#include <optional>
#include <string>

namespace Secrets {

inline constexpr const char* kService = "app.tovrin.mac.secrets";

// The account name of a provider's API key ("groq" -> "groqApiKey").
inline std::string apiKeyAccount(const std::string& provider) { return provider + "ApiKey"; }

// The key stored under `account` (e.g. "groqApiKey"), nullopt when none or not UTF-8.
std::optional<std::string> get(const std::string& account);
// Replaces the key; nullopt or "" removes it. Keychain failures are ignored.
void set(const std::optional<std::string>& value, const std::string& account);

}  // namespace Secrets
