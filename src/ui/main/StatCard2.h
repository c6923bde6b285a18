// One figure of the Home page: the label with its symbol (small, secondary) above the value
// (title font, semibold), on a card.
#pragma once

#include "ui/kit/KestalCard.h"

#include <QString>

class QLabel;

class StatCard2 : public KestalCard {
    Q_OBJECT
public:
    StatCard2(const QString& label, const QString& value, const QString& icon, QWidget* parent = nullptr);

    QString label() const { return label_; }
    QString icon() const { return icon_; }
    QString value() const;
    void setValue(const QString& value);

private:
    QString label_;
    QString icon_;
    QLabel* value_;
};
