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

std::string trimmed(const std::string& text) {
    auto isSpace = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    std::size_t b = 0, e = text.size();
    while (b < e && isSpace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && isSpace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
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

}  // namespace platform::TextTools
