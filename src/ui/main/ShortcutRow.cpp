#include "ui/main/ShortcutRow.h"

#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ShortcutRow::ShortcutRow(const QString& icon, const QString& title, const QString& detail, const QString& keys,
                         bool active, QWidget* parent)
    : RoundedBox(10, RoundedBox::quaternary(0.35), parent), title_(title), active_(active) {
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(12, 12, 12, 12);
    line->setSpacing(12);

    auto* symbol = new QLabel(this);
    symbol->setFixedWidth(22);
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setPixmap(Symbols::pixmap(icon, 16, Kestal::dim, devicePixelRatioF()));
    line->addWidget(symbol);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setFont(Kestal::body());
    titleLabel->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::text)));
    auto* detailLabel = new QLabel(detail, this);
    detailLabel->setObjectName("shortcutDetail");
    detailLabel->setFont(Kestal::body());
    detailLabel->setWordWrap(true);
    detailLabel->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::dim)));
    column->addWidget(titleLabel);
    column->addWidget(detailLabel);
    line->addLayout(column, 1);

    if (active) {
        auto* badge = new QWidget(this);
        badge->setObjectName("activeBadge");
        auto* badgeRow = new QHBoxLayout(badge);
        badgeRow->setContentsMargins(0, 0, 0, 0);
        badgeRow->setSpacing(4);
        auto* dot = new QLabel(badge);
        dot->setFixedSize(6, 6);
        dot->setStyleSheet(QString("background: %1; border-radius: 3px;").arg(Kestal::css(Kestal::green)));
        auto* word = new QLabel("Active", badge);
        word->setFont(Kestal::caption2());
        word->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::green)));
        badgeRow->addWidget(dot);
        badgeRow->addWidget(word);
        line->addWidget(badge);
    }

    QColor capFill = RoundedBox::quaternary(0.5);
    keys_ = new QLabel(keys, this);
    keys_->setObjectName("shortcutKeys");
    keys_->setFont(Kestal::monospacedFont(12));
    keys_->setStyleSheet(QString("color: %1; background: %2; border-radius: 6px; padding: 5px 10px;")
                             .arg(Kestal::css(Kestal::text), Kestal::css(capFill)));
    line->addWidget(keys_);
}

QString ShortcutRow::keys() const { return keys_->text(); }
void ShortcutRow::setKeys(const QString& keys) { keys_->setText(keys); }
