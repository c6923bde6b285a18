// The Shortcuts page: what the keys do, the push-to-talk key picker and the cancel key picker
// (which never offers the push-to-talk key itself), and troubleshooting notes. It writes only the
// two key settings; the key monitor reads them on every event.
#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QToolButton;
class ShortcutRow;

class ShortcutsPage : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsPage(QWidget* parent = nullptr);

    // The name of the push-to-talk key `code`; "Fn / Menu" for a code outside the table.
    static QString keyName(int code);

    ShortcutRow* row(int index) const { return rows_[index]; }

private:
    // Brings the rows and both pickers in line with the stored settings.
    void refresh();

    ShortcutRow* rows_[3] = {};
    QComboBox* ptt_;
    QComboBox* cancel_;
    QToolButton* disclosure_;
    QWidget* troubleshooting_;
};
