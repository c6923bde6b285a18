#include "ui/main/SavePanel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
SavePanel::Chooser& installed() {
    static SavePanel::Chooser chooser;
    return chooser;
}
}  // namespace

QString SavePanel::startFolder() {
    // The desktop's own setting (exported, or in user-dirs.dirs, which Qt reads); a folder that
    // is not there would leave the dialog in whatever folder the program was started from.
    for (const QString& candidate : {qEnvironmentVariable("XDG_DOCUMENTS_DIR"),
                                     QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)})
        if (!candidate.isEmpty() && QDir::isAbsolutePath(candidate) && QFileInfo(candidate).isDir()) return candidate;
    return QDir::homePath();
}

std::optional<QString> SavePanel::run(const QString& proposedName, QWidget* parent) {
    if (installed()) return installed()(proposedName);
    // The platform's dialog where the desktop offers one (the XDG portal's), else Qt's own.
    const QString path = QFileDialog::getSaveFileName(parent, QString(), QDir(startFolder()).filePath(proposedName));
    if (path.isEmpty()) return std::nullopt;
    return path;
}

void SavePanel::setChooser(Chooser chooser) { installed() = std::move(chooser); }

QString SavePanel::writeAtomically(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    // What the user exports is theirs alone, like every other file of ours.
    if (written) file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    written = written && file.write(data) == data.size();
    // Everything or nothing: a broken write leaves no partial file (nor its temporary one).
    QString reason = file.errorString();
    if (written) {
        written = file.commit();
        reason = file.errorString();
    } else {
        file.cancelWriting();
    }
    if (written) return {};
    return "Could not save " + QDir::toNativeSeparators(path) + ": " + reason +
           ". Choose another folder or free some space, then try again.";
}
