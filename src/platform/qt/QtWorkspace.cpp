#include "platform/qt/QtWorkspace.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

// The system's privacy settings: the desktop's settings program where one is known.
bool openSystemSettings(const QString& pane) {
    const QString gnome = QStandardPaths::findExecutable("gnome-control-center");
    if (!gnome.isEmpty()) return QProcess::startDetached(gnome, {pane.contains("Microphone") ? "microphone" : "privacy"});
    const QString kde = QStandardPaths::findExecutable("systemsettings");
    if (!kde.isEmpty()) return QProcess::startDetached(kde, {});
    return false;
}

}  // namespace

bool QtWorkspace::openUrl(const std::string& url) {
    const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    if (!u.isValid() || u.scheme().isEmpty()) return false;
    if (u.scheme() == "x-apple.systempreferences") return openSystemSettings(u.toString());
    return QDesktopServices::openUrl(u);
}

bool QtWorkspace::revealFile(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace platform
