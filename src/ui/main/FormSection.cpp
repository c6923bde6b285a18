#include "ui/main/FormSection.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "ui/kit/KestalSectionHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

FormSection::FormSection(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    header_ = new KestalSectionHeader(title, this);
    column->addWidget(header_, 0, Qt::AlignLeft);
    card_ = new KestalCard(10, Kestal::border, this);
    rows_ = new QVBoxLayout(card_);
    rows_->setContentsMargins(14, 12, 14, 12);
    rows_->setSpacing(10);
    column->addWidget(card_);
}

void FormSection::addRow(QWidget* row) { rows_->addWidget(row); }

QWidget* FormSection::labelledRow(const QString& title, QWidget* control, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(12);
    auto* label = text(title, Kestal::body(), Kestal::text, row);
    label->setWordWrap(false);
    line->addWidget(label);
    line->addStretch(1);
    if (control) {
        control->setParent(row);
        line->addWidget(control);
    }
    return row;
}

QLabel* FormSection::text(const QString& s, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(s, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

QLabel* FormSection::caption(const QString& s, QWidget* parent) { return text(s, Kestal::caption(), Kestal::dim, parent); }
