#include "state/Secrets.h"

#include "platform/Keychain.h"
#include "platform/TextTools.h"

namespace Secrets {

std::optional<std::string> get(const std::string& account) {
    auto data = platform::Keychain::shared().get(kService, account);
    if (!data || !platform::TextTools::isUtf8(*data)) return std::nullopt;
    return data;
}

void set(const std::optional<std::string>& value, const std::string& account) {
    auto& keychain = platform::Keychain::shared();
    keychain.remove(kService, account);
    if (value && !value->empty()) keychain.set(kService, account, *value);
}

}  // namespace Secrets
