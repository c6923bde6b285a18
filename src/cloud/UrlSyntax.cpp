#include "cloud/UrlSyntax.h"

#include <cctype>
#include <cstring>

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isUrlChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u <= 0x20 || u == 0x7F) return false;
    if (std::isalnum(u)) return true;
    return std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

}  // namespace

bool UrlSyntax::parses(const std::string& text) {
    if (text.empty()) return false;
    int fragments = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!isUrlChar(c)) return false;
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
        } else if (c == '#') {
            if (++fragments > 1) return false;
        }
    }
    // A colon before the first "/", "?" or "#" ends a scheme, which must be ALPHA *(ALPHA / DIGIT / + - .).
    const std::size_t colon = text.find(':');
    const std::size_t stop = text.find_first_of("/?#");
    if (colon != std::string::npos && (stop == std::string::npos || colon < stop)) {
        if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
        for (std::size_t i = 1; i < colon; ++i) {
            const auto u = static_cast<unsigned char>(text[i]);
            if (!std::isalnum(u) && u != '+' && u != '-' && u != '.') return false;
        }
    }
    return true;
}

std::string UrlSyntax::appendingPath(const std::string& base, const std::string& path) {
    const std::size_t cut = base.find_first_of("?#");
    std::string head = cut == std::string::npos ? base : base.substr(0, cut);
    const std::string tail = cut == std::string::npos ? std::string() : base.substr(cut);
    std::string p = path;
    while (!p.empty() && p.front() == '/') p.erase(p.begin());
    if (head.empty() || head.back() != '/') head.push_back('/');
    return head + p + tail;
}
