#include "platform/TextMatch.h"

#include <QRegularExpression>
#include <QString>

namespace platform::TextMatch {

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
