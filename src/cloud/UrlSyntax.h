// The URL rules the account client needs without a URL library: whether a string reads as a
// URL at all, and appending path components to a base.
#pragma once

#include <string>

class UrlSyntax {
public:
    // True when `text` is a syntactically valid URL reference (absolute or relative): not empty,
    // only characters URLs allow, well-formed percent escapes, a valid scheme when one is given,
    // at most one fragment mark. Nothing about the scheme or the path is checked beyond that.
    static bool parses(const std::string& text);

    // True for an absolute URL that keeps what is sent private: https to any host, or http to a
    // loopback address of this machine (127.0.0.0/8, [::1], localhost).
    static bool isPrivateTransport(const std::string& url);

    // `base` with `path` ("auth/login") appended after exactly one "/", before any query or fragment.
    static std::string appendingPath(const std::string& base, const std::string& path);
};
