// One group of a settings form: a section heading above a card that holds the group's rows, one
// under the other. Rows are plain widgets; labelledRow() builds the usual "label … control" line.
#pragma once

#include "ui/kit/KestalCard.h"

#include <QString>
#include <QWidget>

class KestalSectionHeader;
class QLabel;
class QVBoxLayout;

class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& title, QWidget* parent = nullptr);

    KestalCard* card() const { return card_; }
    // Adds a row to the card's column, below the ones before it.
    void addRow(QWidget* row);

    // A row holding `title` at the leading end and `control` at the trailing end.
    static QWidget* labelledRow(const QString& title, QWidget* control, QWidget* parent);
    // A wrapping line of text in `font` and `color` (plain text, never rich).
    static QLabel* text(const QString& s, const QFont& font, const QColor& color, QWidget* parent);
    // The small secondary line under a control.
    static QLabel* caption(const QString& s, QWidget* parent);

private:
    KestalSectionHeader* header_;
    KestalCard* card_;
    QVBoxLayout* rows_;
};
