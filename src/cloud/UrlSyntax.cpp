#include "cloud/UrlSyntax.h"

#include <cctype>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isUrlChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u <= 0x20 || u == 0x7F) return false;
    if (std::isalnum(u)) return true;
    return std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "127.a.b.c" with each part a decimal number of at most 255.
bool isLoopbackV4(const std::string& host) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= host.size()) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        const std::string part = host.substr(at, dot - at);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        if (parts == 0 && part != "127") return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

}  // namespace

bool UrlSyntax::isPrivateTransport(const std::string& url) {
    if (!parses(url)) return false;
    const std::size_t sep = url.find("://");
    if (sep == std::string::npos) return false;
    const std::string scheme = lower(url.substr(0, sep));
    std::string authority = url.substr(sep + 3, url.find_first_of("/?#", sep + 3) - (sep + 3));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    std::string host = authority;
    if (!host.empty() && host.front() == '[') {
        host = host.substr(0, host.find(']') == std::string::npos ? host.size() : host.find(']') + 1);
    } else if (const std::size_t colon = host.find(':'); colon != std::string::npos) {
        host.erase(colon);
    }
    host = lower(host);
    if (host.empty()) return false;
    if (scheme == "https") return true;
    return scheme == "http" && (host == "localhost" || host == "[::1]" || isLoopbackV4(host));
}

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
