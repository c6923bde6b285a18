// One line of the Shortcuts page: the action's symbol, its title above a detail, an "Active" badge
// when it is active, and the keys that trigger it in a small key cap.
#pragma once

#include "ui/main/RoundedBox.h"

#include <QString>

class QLabel;

class ShortcutRow : public RoundedBox {
    Q_OBJECT
public:
    ShortcutRow(const QString& icon, const QString& title, const QString& detail, const QString& keys, bool active,
                QWidget* parent = nullptr);

    QString title() const { return title_; }
    QString keys() const;
    void setKeys(const QString& keys);
    bool active() const { return active_; }

private:
    QString title_;
    bool active_;
    QLabel* keys_;
};
