// One transcript in the History list: the date, word count, seconds and language above the text,
// a star that toggles the favourite, and, while the pointer is over the row, copy and delete.
#pragma once

#include "state/HistoryRow.h"
#include "ui/main/RoundedBox.h"

class Database;
class QToolButton;

class HistoryRowView : public RoundedBox {
    Q_OBJECT
public:
    HistoryRowView(const HistoryRow& row, Database& store, QWidget* parent = nullptr);

    const HistoryRow& row() const { return row_; }
    bool hovering() const { return hovering_; }

    // "Mar 3, 2025, 5:41 PM · 12 words · 7s · en" in the user's locale.
    static QString caption(const HistoryRow& row);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHovering(bool hovering);

    HistoryRow row_;
    Database& store_;
    bool hovering_ = false;
    QToolButton* star_;
    QToolButton* copy_;
    QToolButton* delete_;
};
