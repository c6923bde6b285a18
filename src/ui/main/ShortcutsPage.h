// The Shortcuts page: what the keys do, the push-to-talk key picker and the cancel key picker
// (which never offers the push-to-talk key itself), and troubleshooting notes. It writes only the
// two key settings; the key monitor reads them on every event. A status line says where the key
// and the paste go through in this desktop session, and, where the key cannot reach us from every
// program, what the user can set up instead. Where the desktop asks the user before we may send
// the paste chord, the page says what its dialog asks and shows whether it was granted; on GNOME
// it can add a shortcut of GNOME's own that runs the toggle command. While shown it reads the
// session's state once a second, since the desktop's answers come at any time.
#pragma once

#include "platform/Scheduler.h"
#include "platform/SessionChoice.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class ShortcutRow;

class ShortcutsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr double kPollSeconds = 1.0;

    explicit ShortcutsPage(QWidget* parent = nullptr);
    ~ShortcutsPage() override;

    // The name of the push-to-talk key `code`; "Fn / Menu" for a code outside the table.
    static QString keyName(int code);

    ShortcutRow* row(int index) const { return rows_[index]; }

    // "Key: X11 · Paste: X11" and the like; where the desktop grants the paste, whether it did.
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

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Brings the rows and both pickers in line with the stored settings.
    void refresh();
    // Brings the session's box in line with the session and the desktop's answers.
    void refreshSession();
    void schedulePoll();
    // Adds or removes our GNOME shortcut, as the button offers.
    void toggleCustomShortcut();

    ShortcutRow* rows_[3] = {};
    QComboBox* ptt_;
    QComboBox* cancel_;
    QLabel* status_;
    QLabel* advice_;
    QLabel* bindings_;
    QLabel* permissionNote_;
    QPushButton* askPermission_;
    QWidget* customShortcut_;
    QLabel* customShortcutNote_;
    QPushButton* customShortcutButton_;
    QLabel* customShortcutError_;
    platform::TimerHandle poll_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    QToolButton* disclosure_;
    QWidget* troubleshooting_;
};
