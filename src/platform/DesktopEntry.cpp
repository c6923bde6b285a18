#include "platform/DesktopEntry.h"

#include "platform/Paths.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace platform {

std::string DesktopEntry::path() { return Paths::applicationSupport() + "/applications/tovrin.desktop"; }

bool DesktopEntry::setIcon(const std::string& imagePath) {
    const QString file = QString::fromStdString(path());
    const QString iconLine = "Icon=" + QString::fromStdString(imagePath);

    QStringList lines;
    if (QFile in(file); in.open(QIODevice::ReadOnly | QIODevice::Text))
        lines = QString::fromUtf8(in.readAll()).split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();

    int group = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed() == "[Desktop Entry]") {
            group = i;
            break;
        }
    if (group < 0) {
        const std::string exe = Paths::launcher();
        lines = QStringList{"[Desktop Entry]",
                            "Type=Application",
                            "Name=Tovrin",
                            "Comment=Voice typing",
                            "Exec=" + QString::fromStdString(exe.empty() ? std::string("tovrin") : exe),
                            iconLine,
                            "Terminal=false",
                            "StartupNotify=true",
                            "Categories=Utility;Accessibility;"} +
                lines;
    } else {
        // Replace the Icon key of the main group (not of the action groups that may follow).
        int end = lines.size();
        for (int i = group + 1; i < lines.size(); ++i)
            if (lines[i].startsWith('[')) {
                end = i;
                break;
            }
        bool replaced = false;
        for (int i = group + 1; i < end; ++i) {
            const QString key = lines[i].section('=', 0, 0).trimmed();
            if (key == "Icon") {
                lines[i] = iconLine;
                replaced = true;
                break;
            }
        }
        if (!replaced) lines.insert(group + 1, iconLine);
    }

    if (!Paths::makeDirectories(Paths::applicationSupport() + "/applications")) return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
    out.write((lines.join('\n') + '\n').toUtf8());
    return out.commit();
}

}  // namespace platform
