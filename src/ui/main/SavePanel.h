// The modal "save as" step of the exports: asks where to write a file, proposing a name, in the
// user's documents folder (else the home folder). Tests install a chooser of their own so nothing
// modal opens.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

class SavePanel {
public:
    SavePanel() = delete;

    // Given the proposed file name, answers the chosen path or nullopt when the user cancelled.
    using Chooser = std::function<std::optional<QString>(const QString& proposedName)>;

    // The chosen path (a modal file dialog over `parent` unless a chooser is installed).
    static std::optional<QString> run(const QString& proposedName, QWidget* parent = nullptr);
    // Where the dialog opens: XDG_DOCUMENTS_DIR, else the documents folder the desktop names,
    // else the home folder; never the current directory.
    static QString startFolder();
    // Replaces the dialog; an empty function restores it.
    static void setChooser(Chooser chooser);

    // Writes `data` to `path` atomically: the file is replaced only when the whole of it was
    // written, so a failed write leaves any earlier file as it was and no partial one. Answers
    // the sentence a page shows when it failed ("Could not save … : <reason>"), empty when written.
    static QString writeAtomically(const QString& path, const QByteArray& data);
};
