// The item delegate of a RowList: each row's size from the list and its picture painted, with the
// list's gap below it.
#pragma once

#include <QAbstractItemDelegate>

class RowList;

class RowPainter : public QAbstractItemDelegate {
    Q_OBJECT
public:
    explicit RowPainter(RowList& list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    RowList& list_;
};
