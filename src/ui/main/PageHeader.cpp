#include "ui/main/PageHeader.h"

#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"
#include "ui/main/RoundedBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

PageHeader::PageHeader(const QString& icon, const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), icon_(icon) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 18);
    row->setSpacing(12);

    auto* tile = new RoundedBox(9, RoundedBox::quaternary(), this);
    tile->setObjectName("pageHeaderTile");
    tile->setFixedSize(40, 40);
    auto* tileLayout = new QHBoxLayout(tile);
    tileLayout->setContentsMargins(0, 0, 0, 0);
    auto* symbol = new QLabel(tile);
    symbol->setObjectName("pageHeaderSymbol");
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setPixmap(Symbols::pixmap(icon, 18, Kestal::text, devicePixelRatioF()));
    tileLayout->addWidget(symbol);
    row->addWidget(tile, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    title_ = new QLabel(title, this);
    title_->setObjectName("pageHeaderTitle");
    title_->setFont(Kestal::font(17, QFont::Bold));
    title_->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::text)));
    subtitle_ = new QLabel(subtitle, this);
    subtitle_->setObjectName("pageHeaderSubtitle");
    subtitle_->setFont(Kestal::callout());
    subtitle_->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::dim)));
    column->addWidget(title_);
    column->addWidget(subtitle_);
    row->addLayout(column);
    row->addStretch(1);

    actions_ = new QHBoxLayout;
    actions_->setSpacing(8);
    row->addLayout(actions_);
}

QString PageHeader::title() const { return title_->text(); }
QString PageHeader::subtitle() const { return subtitle_->text(); }

void PageHeader::addAction(QWidget* control) { actions_->addWidget(control, 0, Qt::AlignVCenter); }
