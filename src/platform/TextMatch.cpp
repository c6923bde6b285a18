#include "platform/TextMatch.h"

#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <vector>

namespace platform::TextMatch {

namespace {

// The same word characters as the pattern's \w with Unicode properties.
bool isWord(char32_t c) { return c == U'_' || QChar::isLetterOrNumber(c); }

// The folded characters whose case-equal class holds word and non-word characters both.
class MixedClasses {
public:
    MixedClasses() {
        std::vector<std::uint8_t> kinds(0x110000, 0);  // bit 1: a word member, bit 2: a non-word one
        for (char32_t c = 0; c < 0x110000; ++c) {
            const char32_t f = QChar::toCaseFolded(c);
            kinds[f] |= isWord(c) ? 1 : 2;
        }
        for (char32_t c = 0; c < 0x110000; ++c)
            if (kinds[c] == 3) mixed_.push_back(c);
    }
    bool holds(char32_t folded) const {
        for (char32_t c : mixed_)
            if (c == folded) return true;
        return false;
    }

private:
    std::vector<char32_t> mixed_;
};

const MixedClasses& mixedClasses() {
    static const MixedClasses classes;
    return classes;
}

}  // namespace

// Plain ASCII, the common case, needs no conversion: letters fold to lower case, and the word
// characters are letters, digits and the underscore.
static std::optional<Words> asciiWords(const std::string& text) {
    Words out;
    std::string word;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) return std::nullopt;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            word += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        } else if (!word.empty()) {
            out.words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) out.words.push_back(std::move(word));
    return out;
}

Words foldedWords(const std::string& text) {
    if (auto ascii = asciiWords(text)) return std::move(*ascii);
    const MixedClasses& mixed = mixedClasses();
    const QString subject = QString::fromStdString(text);
    Words out;
    QString word;
    const auto finish = [&] {
        if (word.isEmpty()) return;
        out.words.push_back(word.toStdString());
        word.clear();
    };
    const qsizetype n = subject.size();
    for (qsizetype i = 0; i < n;) {
        char32_t c = subject.at(i).unicode();
        qsizetype step = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < n && subject.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(subject.at(i), subject.at(i + 1));
            step = 2;
        }
        i += step;
        const char32_t folded = QChar::toCaseFolded(c);
        if (mixed.holds(folded)) out.exact = false;
        if (!isWord(c)) {
            finish();
            continue;
        }
        if (QChar::requiresSurrogates(folded)) {
            word += QChar(QChar::highSurrogate(folded));
            word += QChar(QChar::lowSurrogate(folded));
        } else {
            word += QChar(static_cast<char16_t>(folded));
        }
    }
    finish();
    return out;
}

std::optional<std::string> replaceWholeWords(const std::string& text, const std::string& term,
                                             const std::string& replacement) {
    const QString pattern = QStringLiteral("\\b") + QRegularExpression::escape(QString::fromStdString(term)) +
                            QStringLiteral("\\b");
    const QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption |
                                             QRegularExpression::UseUnicodePropertiesOption);
    if (!re.isValid()) return std::nullopt;

    const QString subject = QString::fromStdString(text);
    auto it = re.globalMatch(subject);
    if (!it.hasNext()) return text;

    // Built by hand rather than with QString::replace, whose replacement text would read "\1"
    // as a back-reference.
    const QString with = QString::fromStdString(replacement);
    QString out;
    out.reserve(subject.size());
    qsizetype last = 0;
    while (it.hasNext()) {
        const auto m = it.next();
        out += QStringView(subject).mid(last, m.capturedStart() - last);
        out += with;
        last = m.capturedEnd();
    }
    out += QStringView(subject).mid(last);
    return out.toStdString();
}

}  // namespace platform::TextMatch
