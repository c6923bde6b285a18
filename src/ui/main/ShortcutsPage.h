// The Shortcuts page: what the keys do, the push-to-talk key picker and the cancel key picker
// (which never offers the push-to-talk key itself), and troubleshooting notes. It writes only the
// two key settings; the key monitor reads them on every event. A status line says where the key
// and the paste go through in this desktop session, and, where the key cannot reach us from every
// program, what the user can set up instead.
#pragma once

#include "platform/SessionChoice.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QToolButton;
class ShortcutRow;

class ShortcutsPage : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsPage(QWidget* parent = nullptr);

    // The name of the push-to-talk key `code`; "Fn / Menu" for a code outside the table.
    static QString keyName(int code);

    ShortcutRow* row(int index) const { return rows_[index]; }

    // "Key: X11 · Paste: X11" and the like.
    static QString sessionStatus(const platform::SessionChoice& choice);
    // One sentence on what the user can do so that the key reaches us from every program; empty
    // when it already does (a compositor binding is always explained: we cannot see it is set).
    static QString keyAdvice(const platform::SessionChoice& choice, int pttCode);
    // The sway configuration lines for the push-to-talk key: always the Menu key, the stand-in
    // for Fn, since the other keys are modifiers, which must never be bound alone; empty outside
    // sway.
    static QStringList bindingLines(const platform::SessionChoice& choice);
    // How a key binding runs this program: "tovrin" when that name on PATH is this program, else
    // its full path.
    static QString programCommand();

private:
    // Brings the rows and both pickers in line with the stored settings.
    void refresh();

    ShortcutRow* rows_[3] = {};
    QComboBox* ptt_;
    QComboBox* cancel_;
    QLabel* status_;
    QLabel* advice_;
    QLabel* bindings_;
    QToolButton* disclosure_;
    QWidget* troubleshooting_;
};
