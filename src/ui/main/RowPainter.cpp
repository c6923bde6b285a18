#include "ui/main/RowPainter.h"

#include <QPainter>
#include <QWidget>

RowPainter::RowPainter(Rows rows, QObject* parent) : QAbstractItemDelegate(parent), rows_(std::move(rows)) {}

void RowPainter::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (rows_.isLive(index.row())) return;  // its widget stands over it
    QRect rect = option.rect;
    rect.setHeight(rect.height() - rows_.gap);
    rows_.paint(*painter, rect, index.row());
}

QSize RowPainter::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return {rows_.width(), rows_.height(index.row()) + rows_.gap};
}

void RowPainter::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const {
    editor->setGeometry(option.rect);
}
