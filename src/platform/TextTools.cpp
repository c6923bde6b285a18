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
