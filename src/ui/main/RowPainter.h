// The item delegate of a RowList: each row's size from the list and its picture painted, with the
// list's gap below it; a live row widget placed over its row.
#pragma once

#include <QAbstractItemDelegate>

class RowList;

class RowPainter : public QAbstractItemDelegate {
    Q_OBJECT
public:
    explicit RowPainter(RowList& list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A live row widget covers its row, gap included.
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override;

private:
    RowList& list_;
};
