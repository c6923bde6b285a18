// The item delegate of a row list: each row's size and picture come from the list, with the
// list's gap below it; a live row widget placed over its row.
#pragma once

#include <QAbstractItemDelegate>

#include <functional>

class RowPainter : public QAbstractItemDelegate {
    Q_OBJECT
public:
    // What the painter asks of its list, by row.
    struct Rows {
        std::function<bool(int row)> isLive;  // a widget stands over the row
        std::function<void(QPainter&, const QRect&, int row)> paint;
        std::function<int(int row)> height;  // without the gap
        std::function<int()> width;
        int gap = 0;
    };

    RowPainter(Rows rows, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A live row widget covers its row, gap included.
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override;

private:
    Rows rows_;
};
