#include "ui/main/SavePanel.h"

#include <QDir>
#include <QFileDialog>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
SavePanel::Chooser& installed() {
    static SavePanel::Chooser chooser;
    return chooser;
}
}  // namespace

std::optional<QString> SavePanel::run(const QString& proposedName, QWidget* parent) {
    if (installed()) return installed()(proposedName);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    const QString path = QFileDialog::getSaveFileName(parent, QString(), QDir(folder).filePath(proposedName));
    if (path.isEmpty()) return std::nullopt;
    return path;
}

void SavePanel::setChooser(Chooser chooser) { installed() = std::move(chooser); }

bool SavePanel::writeAtomically(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // What the user exports is theirs alone, like every other file of ours.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
