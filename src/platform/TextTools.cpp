#include "platform/TextTools.h"

#include <QString>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace platform::TextTools {

bool isUtf8(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !decoder.hasError();
}

namespace {

// The code point of well-formed UTF-8 that starts at `at` and its length in bytes; a broken
// sequence reads as one byte that is no space.
char32_t codePointAt(const std::string& s, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t extra = 0;
    char32_t cp = 0;
    if ((lead & 0xE0) == 0xC0) { extra = 1; cp = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { extra = 2; cp = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { extra = 3; cp = lead & 0x07; }
    else return 0xFFFD;
    if (at + extra >= s.size()) return 0xFFFD;
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    length = extra + 1;
    return cp;
}

}  // namespace

// White space and line ends as Unicode counts them: tabs, line feeds and the other controls
// U+0009 to U+000D, U+0085, and every space and line or paragraph separator (no-break space,
// ideographic space, U+2028, …).
std::string trimmed(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e) {
        std::size_t length = 0;
        if (!QChar::isSpace(codePointAt(text, b, length))) break;
        b += length;
    }
    while (e > b) {
        std::size_t start = e - 1;
        while (start > b && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && e - start < 4) --start;
        std::size_t length = 0;
        const char32_t cp = codePointAt(text, start, length);
        if (start + length != e || !QChar::isSpace(cp)) break;
        e = start;
    }
    return text.substr(b, e - b);
}

QString trimmedSpacesAndTabs(const QString& text) {
    const auto blank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && blank(text.at(start))) ++start;
    while (end > start && blank(text.at(end - 1))) --end;
    return text.mid(start, end - start);
}

std::string firstCharacters(const std::string& text, int count) {
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    int seen = 0;
    qsizetype end = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            end = s.size();
            break;
        }
        end = next;
        ++seen;
    }
    return s.left(end).toStdString();
}

namespace {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Walks the code points of `text` (a broken sequence reads as U+FFFD); `keep` says what each
// becomes: nothing (0), itself, or another code point.
template <typename Rule>
std::string mapped(const std::string& text, Rule keep) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        char32_t cp = codePointAt(text, at, length);
        // Surrogates and code points past U+10FFFF are not text either.
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        const char32_t next = at + length < text.size() ? static_cast<unsigned char>(text[at + length]) : 0;
        if (const char32_t kept = keep(cp, next)) appendUtf8(out, kept);
        at += length;
    }
    return out;
}

}  // namespace

std::string withoutControls(const std::string& text) {
    return mapped(text, [](char32_t cp, char32_t next) -> char32_t {
        if (cp == '\t' || cp == '\n') return cp;
        if (cp == '\r') return next == '\n' ? 0 : '\n';
        return isControl(cp) ? 0 : cp;
    });
}

std::string forTerminal(const std::string& text) {
    return mapped(withoutControls(text), [](char32_t cp, char32_t) -> char32_t {
        return isControl(cp) || cp == 0x2028 || cp == 0x2029 ? U' ' : cp;
    });
}

}  // namespace platform::TextTools
