#include "server/MultipartForm.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace server {

namespace {

constexpr std::string_view kCrlf = "\r\n";

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower(x) == lower(y);
           });
}

// Splits `value` of a header such as `form-data; name="file"; filename="a.wav"` into its leading
// token and its parameters; quoted strings may hold ';' and backslash escapes.
struct HeaderValue {
    std::string_view token;
    std::vector<std::pair<std::string, std::string>> params;

    std::optional<std::string> param(std::string_view key) const {
        for (const auto& [k, v] : params)
            if (equalsNoCase(k, key)) return v;
        return std::nullopt;
    }
};

HeaderValue parseHeaderValue(std::string_view value) {
    HeaderValue out;
    std::size_t semi = value.find(';');
    out.token = trim(value.substr(0, semi));
    std::size_t pos = semi == std::string_view::npos ? value.size() : semi + 1;
    while (pos < value.size()) {
        while (pos < value.size() && (isSpace(value[pos]) || value[pos] == ';')) ++pos;
        if (pos >= value.size()) break;
        const std::size_t eq = value.find('=', pos);
        const std::size_t nextSemi = value.find(';', pos);
        if (eq == std::string_view::npos || (nextSemi != std::string_view::npos && nextSemi < eq)) {
            // A parameter without a value: skip it.
            pos = nextSemi == std::string_view::npos ? value.size() : nextSemi + 1;
            continue;
        }
        std::string key(trim(value.substr(pos, eq - pos)));
        pos = eq + 1;
        while (pos < value.size() && isSpace(value[pos])) ++pos;
        std::string v;
        if (pos < value.size() && value[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < value.size()) {
                const char c = value[pos++];
                if (c == '\\' && pos < value.size()) {
                    v.push_back(value[pos++]);
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    v.push_back(c);
                }
            }
            if (!closed) throw MultipartForm::Error("unterminated quoted string in a multipart header");
            const std::size_t end = value.find(';', pos);
            pos = end == std::string_view::npos ? value.size() : end + 1;
        } else {
            const std::size_t end = value.find(';', pos);
            v = std::string(trim(value.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos)));
            pos = end == std::string_view::npos ? value.size() : end + 1;
        }
        out.params.emplace_back(std::move(key), std::move(v));
    }
    return out;
}

bool validBoundary(std::string_view b) {
    if (b.empty() || b.size() > MultipartForm::kMaxBoundary || b.back() == ' ') return false;
    return std::all_of(b.begin(), b.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
    });
}

// Reads the headers of one part from `headers` (without the blank line ending them).
MultipartForm::Part parsePartHeaders(std::string_view headers) {
    MultipartForm::Part part;
    bool haveDisposition = false;
    while (!headers.empty()) {
        const std::size_t eol = headers.find(kCrlf);
        const std::string_view line = headers.substr(0, eol);
        headers = eol == std::string_view::npos ? std::string_view{} : headers.substr(eol + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) throw MultipartForm::Error("malformed multipart part header");
        const std::string_view name = trim(line.substr(0, colon));
        const std::string_view value = trim(line.substr(colon + 1));
        if (equalsNoCase(name, "Content-Disposition")) {
            const HeaderValue hv = parseHeaderValue(value);
            if (!equalsNoCase(hv.token, "form-data"))
                throw MultipartForm::Error("multipart part is not form-data");
            const auto fieldName = hv.param("name");
            if (!fieldName || fieldName->empty()) throw MultipartForm::Error("multipart part has no name");
            part.name = *fieldName;
            part.filename = hv.param("filename").value_or("");
            haveDisposition = true;
        } else if (equalsNoCase(name, "Content-Type")) {
            part.contentType = std::string(value);
        }
    }
    if (!haveDisposition) throw MultipartForm::Error("multipart part has no Content-Disposition");
    return part;
}

}  // namespace

std::string MultipartForm::boundaryOf(std::string_view contentType) {
    const HeaderValue hv = parseHeaderValue(contentType);
    if (!equalsNoCase(hv.token, "multipart/form-data"))
        throw Error("expected Content-Type multipart/form-data");
    const auto boundary = hv.param("boundary");
    if (!boundary) throw Error("multipart Content-Type has no boundary");
    if (!validBoundary(*boundary)) throw Error("multipart boundary is invalid");
    return *boundary;
}

MultipartForm MultipartForm::parse(std::string_view body, std::string_view boundary) {
    if (!validBoundary(boundary)) throw Error("multipart boundary is invalid");
    const std::string delimiter = "\r\n--" + std::string(boundary);
    const std::boyer_moore_horspool_searcher search(delimiter.begin(), delimiter.end());
    // Finds the next delimiter at or after `from`; the body's first one may lack the leading CRLF.
    auto findDelimiter = [&](std::size_t from) -> std::size_t {
        const auto it = std::search(body.begin() + from, body.end(), search);
        return it == body.end() ? std::string_view::npos : static_cast<std::size_t>(it - body.begin());
    };

    std::size_t pos;  // just past a delimiter
    const std::string_view first = std::string_view(delimiter).substr(2);
    if (body.substr(0, first.size()) == first) {
        pos = first.size();
    } else {
        const std::size_t at = findDelimiter(0);  // after a preamble
        if (at == std::string_view::npos) throw Error("multipart body has no boundary");
        pos = at + delimiter.size();
    }

    MultipartForm form;
    for (;;) {
        // After a delimiter: "--" closes the body; otherwise optional padding and a line break.
        if (body.substr(pos, 2) == "--") {
            if (form.parts_.empty()) throw Error("multipart body has no parts");
            return form;
        }
        while (pos < body.size() && isSpace(body[pos])) ++pos;
        if (body.substr(pos, 2) != kCrlf) throw Error("malformed multipart boundary line");
        pos += 2;

        const std::size_t headerEnd = body.find("\r\n\r\n", pos);
        const bool noHeaders = body.substr(pos, 2) == kCrlf;
        if (!noHeaders && (headerEnd == std::string_view::npos || headerEnd - pos > kMaxHeaderBytes)) {
            throw Error(headerEnd == std::string_view::npos ? "truncated multipart part headers"
                                                            : "multipart part headers are too large");
        }
        Part part = parsePartHeaders(noHeaders ? std::string_view{} : body.substr(pos, headerEnd - pos));
        pos = noHeaders ? pos + 2 : headerEnd + 4;

        const std::size_t end = findDelimiter(pos);
        if (end == std::string_view::npos) throw Error("multipart body is truncated (no closing boundary)");
        part.data = body.substr(pos, end - pos);
        if (form.parts_.size() == kMaxParts) throw Error("too many multipart parts");
        form.parts_.push_back(std::move(part));
        pos = end + delimiter.size();
    }
}

const MultipartForm::Part* MultipartForm::find(std::string_view name) const {
    for (const Part& p : parts_)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace server
