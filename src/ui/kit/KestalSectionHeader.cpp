#include "ui/kit/KestalSectionHeader.h"

#include "ui/kit/Kestal.h"

KestalSectionHeader::KestalSectionHeader(const QString& title, QWidget* parent) : QLabel(parent) {
    style(this);
    setTitle(title);
}

void KestalSectionHeader::setTitle(const QString& title) {
    title_ = title;
    setText(title.toUpper());
}

void KestalSectionHeader::style(QLabel* label) {
    QFont f = Kestal::monospacedFont(10, QFont::DemiBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    label->setFont(f);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Kestal::dim);
    label->setPalette(p);
    label->setTextFormat(Qt::PlainText);
}
