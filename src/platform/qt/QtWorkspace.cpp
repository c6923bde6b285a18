#include "platform/qt/QtWorkspace.h"

#include "platform/Log.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

// The system's privacy settings: the desktop's settings program where one is known.
bool openSystemSettings(const QString& pane) {
    const auto start = [](const QString& program, const QStringList& arguments) {
        if (QProcess::startDetached(program, arguments)) return true;
        qCWarning(logPlatform, "cannot start %s", qUtf8Printable(program));
        return false;
    };
    const QString gnome = QStandardPaths::findExecutable("gnome-control-center");
    if (!gnome.isEmpty()) return start(gnome, {pane.contains("Microphone") ? "microphone" : "privacy"});
    const QString kde = QStandardPaths::findExecutable("systemsettings");
    if (!kde.isEmpty()) return start(kde, {});
    qCInfo(logPlatform, "no settings program of the desktop found");
    return false;
}

// Whether the desktop knows a program for the scheme: a default named in a mimeapps.list, or an
// installed application (.desktop file) that declares it. The desktop's opener would otherwise
// start, find nothing and fail where nobody sees it.
bool hasSchemeHandler(const QString& scheme) {
    const QString type = "x-scheme-handler/" + scheme;
    const QStringList apps = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    QStringList lists;
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        lists << dir + "/mimeapps.list";
    for (const QString& dir : apps) lists << dir + "/mimeapps.list" << dir + "/mimeinfo.cache";
    for (const QString& path : lists) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            if (line.startsWith(type + "=") && line.size() > type.size() + 1) return true;
        }
    }
    for (const QString& dir : apps) {
        QDirIterator it(dir, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
            while (!f.atEnd()) {
                const QString line = QString::fromUtf8(f.readLine()).trimmed();
                if (line.startsWith("MimeType=") && line.mid(9).split(';').contains(type)) return true;
            }
        }
    }
    return false;
}

}  // namespace

bool QtWorkspace::openUrl(const std::string& url) {
    const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    if (!u.isValid() || u.scheme().isEmpty()) return false;
    if (u.scheme() == "x-apple.systempreferences") return openSystemSettings(u.toString());
    // The address itself is not logged: a checkout link carries its session.
    if (u.scheme() == "mailto" && !hasSchemeHandler(u.scheme())) {
        qCInfo(logPlatform, "no program for mailto links");
        return false;
    }
    if (QDesktopServices::openUrl(u)) return true;
    qCWarning(logPlatform, "the desktop could not open a %s link", qUtf8Printable(u.scheme()));
    return false;
}

bool QtWorkspace::revealFile(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) return true;
    qCWarning(logPlatform, "the desktop could not show the folder %s", qUtf8Printable(folder));
    return false;
}

}  // namespace platform
