#include "ui/main/RowPainter.h"

#include "ui/main/RowList.h"

#include <QPainter>

RowPainter::RowPainter(RowList& list) : QAbstractItemDelegate(&list), list_(list) {}

void RowPainter::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (list_.isLive(index.row())) return;  // its widget stands over it
    QRect rect = option.rect;
    rect.setHeight(rect.height() - RowList::gap);
    list_.paintRow(*painter, rect, index.row());
}

QSize RowPainter::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return {list_.viewport()->width(), list_.rowHeight(index.row()) + RowList::gap};
}

void RowPainter::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const {
    editor->setGeometry(option.rect);
}
