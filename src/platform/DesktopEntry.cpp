#include "platform/DesktopEntry.h"

#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace platform {

namespace {

constexpr const char* kFakeInput = "org_kde_kwin_fake_input";

// The program of an Exec= value and where it ends: the first word, unquoted (a quoted word may
// hold spaces; inside it a backslash takes the next character as it is).
QString programOf(const QString& exec, int* end) {
    QString program;
    int i = 0;
    while (i < exec.size() && exec[i] == ' ') ++i;
    if (i < exec.size() && exec[i] == '"') {
        for (++i; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            program += exec[i];
        }
        if (i < exec.size()) ++i;  // the closing quote
    } else {
        for (; i < exec.size() && exec[i] != ' '; ++i) program += exec[i];
    }
    *end = i;
    return program;
}

// A program path as an Exec= word: quoted when it holds a character the format reserves.
QString execWord(const QString& program) {
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`=%");
    bool quote = false;
    for (QChar c : program) quote = quote || reserved.contains(c);
    if (!quote) return program;
    QString word = "\"";
    for (QChar c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') word += '\\';
        word += c;
    }
    return word + '"';
}

// The same file, as far as the file system tells (links and relative spellings resolved).
bool sameFile(const QString& a, const QString& b) {
    if (a == b) return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// Escapes of the format's string values: a backslash is written twice.
QString escaped(const QString& value) { return QString(value).replace("\\", "\\\\"); }
QString unescaped(const QString& value) { return QString(value).replace("\\\\", "\\"); }

bool write(const std::string& content) {
    if (!Paths::makeDirectories(Paths::applicationSupport() + "/applications")) return false;
    QSaveFile out(QString::fromStdString(DesktopEntry::path()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
    out.write(QByteArray::fromStdString(content));
    return out.commit();
}

std::string current() {
    QFile in(QString::fromStdString(DesktopEntry::path()));
    return in.open(QIODevice::ReadOnly | QIODevice::Text) ? in.readAll().toStdString() : std::string();
}

// Writes the entry when it changed; a write the user's launchers would notice for nothing is
// left out (KDE rebuilds its menu cache on every change of the folder).
DesktopEntry::Update update(const std::string& icon) {
    const std::string before = current();
    const std::string after = DesktopEntry::updated(before, Paths::bundleExecutable(), icon);
    if (after == before) return DesktopEntry::Update::unchanged;
    return write(after) ? DesktopEntry::Update::written : DesktopEntry::Update::failed;
}

}  // namespace

std::string DesktopEntry::path() { return Paths::applicationSupport() + "/applications/tovrin.desktop"; }

DesktopEntry::Update DesktopEntry::ensure() { return update({}); }

bool DesktopEntry::setIcon(const std::string& imagePath) { return update(imagePath) != Update::failed; }

std::string DesktopEntry::updated(const std::string& content, const std::string& executable, const std::string& icon) {
    const QString program = QString::fromStdString(executable.empty() ? std::string("tovrin") : executable);
    const QString execLine = "Exec=" + escaped(execWord(program));

    QStringList lines = QString::fromStdString(content).split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();

    int group = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed() == "[Desktop Entry]") {
            group = i;
            break;
        }
    if (group < 0) {
        QStringList entry{"[Desktop Entry]", "Type=Application", "Name=Tovrin", "Comment=Voice typing", execLine};
        if (!icon.empty()) entry << "Icon=" + QString::fromStdString(icon);
        entry << "Terminal=false" << "StartupNotify=true" << "Categories=Utility;Accessibility;"
              << QString("X-KDE-Wayland-Interfaces=") + kFakeInput;
        lines = entry + lines;
    } else {
        // Only the keys of the main group (not of the action groups that may follow).
        int end = lines.size();
        for (int i = group + 1; i < lines.size(); ++i)
            if (lines[i].startsWith('[')) {
                end = i;
                break;
            }
        auto find = [&](const QString& key) {
            for (int i = group + 1; i < end; ++i)
                if (lines[i].section('=', 0, 0).trimmed() == key) return i;
            return -1;
        };
        auto insert = [&](const QString& line) {
            lines.insert(group + 1, line);
            ++end;
        };

        if (const int i = find("Exec"); i < 0) {
            insert(execLine);
        } else {
            const QString value = unescaped(lines[i].section('=', 1));
            int programEnd = 0;
            if (!sameFile(programOf(value, &programEnd), program))
                lines[i] = "Exec=" + escaped(execWord(program) + value.mid(programEnd));
        }

        if (const int i = find("X-KDE-Wayland-Interfaces"); i < 0) {
            insert(QString("X-KDE-Wayland-Interfaces=") + kFakeInput);
        } else {
            QStringList names = lines[i].section('=', 1).split(',', Qt::SkipEmptyParts);
            for (QString& name : names) name = name.trimmed();
            if (!names.contains(kFakeInput)) {
                names << kFakeInput;
                lines[i] = "X-KDE-Wayland-Interfaces=" + names.join(',');
            }
        }

        if (!icon.empty()) {
            const QString iconLine = "Icon=" + QString::fromStdString(icon);
            if (const int i = find("Icon"); i < 0)
                insert(iconLine);
            else
                lines[i] = iconLine;
        }
    }
    return (lines.join('\n') + '\n').toStdString();
}

}  // namespace platform
