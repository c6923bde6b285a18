#include "ui/main/StatCard2.h"

#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

StatCard2::StatCard2(const QString& label, const QString& value, const QString& icon, QWidget* parent)
    : KestalCard(12, Kestal::border, parent), label_(label), icon_(icon) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(8);
    auto* caption = new QHBoxLayout;
    caption->setSpacing(4);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(Symbols::pixmap(icon, 10, Kestal::dim, devicePixelRatioF()));
    caption->addWidget(symbol);
    auto* text = new QLabel(label, this);
    text->setFont(Kestal::caption2());
    text->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::dim)));
    caption->addWidget(text);
    caption->addStretch(1);
    column->addLayout(caption);
    value_ = new QLabel(value, this);
    value_->setObjectName("statValue");
    value_->setFont(Kestal::font(22, QFont::DemiBold));
    value_->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::text)));
    column->addWidget(value_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QString StatCard2::value() const { return value_->text(); }
void StatCard2::setValue(const QString& value) { value_->setText(value); }
