#include "app/Secrets.h"

#include "platform/Keychain.h"

namespace {

bool isUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || (c >= 0x80 && c < 0xC2) || c > 0xF4) return false;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= s.size()) return false;
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

namespace Secrets {

std::optional<std::string> get(const std::string& account) {
    auto data = platform::Keychain::shared().get(kService, account);
    if (!data || !isUtf8(*data)) return std::nullopt;
    return data;
}

void set(const std::optional<std::string>& value, const std::string& account) {
    auto& keychain = platform::Keychain::shared();
    keychain.remove(kService, account);
    if (value && !value->empty()) keychain.set(kService, account, *value);
}

}  // namespace Secrets
