#include "ui/onboarding/PermissionRow.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr double kSymbolSize = 22;  // the title-2 text size of the symbol font
}

const QColor& PermissionRow::grantedColor() { return Kestal::green; }

PermissionRow::PermissionRow(QString icon, QString title, QString subtitle, std::function<void()> action,
                             QWidget* parent)
    : QWidget(parent),
      icon_(std::move(icon)),
      title_(std::move(title)),
      subtitle_(std::move(subtitle)),
      action_(std::move(action)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(14);

    symbol_ = new QLabel(this);
    symbol_->setFixedWidth(34);
    symbol_->setAlignment(Qt::AlignCenter);
    row->addWidget(symbol_);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* titleLabel = new QLabel(title_, this);
    titleLabel->setObjectName("title");
    titleLabel->setFont(Kestal::headline());
    titleLabel->setTextFormat(Qt::PlainText);
    QPalette tp = titleLabel->palette();
    tp.setColor(QPalette::WindowText, Kestal::text);
    titleLabel->setPalette(tp);
    text->addWidget(titleLabel);
    subtitleLabel_ = new QLabel(subtitle_, this);
    subtitleLabel_->setObjectName("subtitle");
    subtitleLabel_->setFont(Kestal::caption());
    subtitleLabel_->setTextFormat(Qt::PlainText);
    subtitleLabel_->setWordWrap(true);
    QPalette sp = subtitleLabel_->palette();
    sp.setColor(QPalette::WindowText, Kestal::dim);
    subtitleLabel_->setPalette(sp);
    text->addWidget(subtitleLabel_);
    row->addLayout(text, 1);

    enable_ = new QPushButton("Enable", this);
    enable_->setObjectName("enableButton");
    KestalSecondaryButtonStyle::apply(enable_);
    row->addWidget(enable_);
    connect(enable_, &QPushButton::clicked, this, [this] {
        if (action_) action_();
    });

    mark_ = new QLabel(this);
    mark_->setObjectName("grantedMark");
    mark_->setPixmap(Symbols::pixmap("checkmark.circle.fill", kSymbolSize, grantedColor(), devicePixelRatioF()));
    mark_->setAccessibleName("Granted");
    mark_->setToolTip("Granted");
    row->addWidget(mark_);

    refreshLook();
}

void PermissionRow::setGranted(bool granted) {
    if (granted == granted_) return;
    granted_ = granted;
    refreshLook();
}

void PermissionRow::setSubtitle(const QString& subtitle) {
    if (subtitle == subtitle_) return;
    subtitle_ = subtitle;
    subtitleLabel_->setText(subtitle_);
}

void PermissionRow::refreshLook() {
    symbol_->setPixmap(
        Symbols::pixmap(icon_, kSymbolSize, granted_ ? grantedColor() : Kestal::dim, devicePixelRatioF()));
    enable_->setVisible(!granted_);
    mark_->setVisible(granted_);
}

void PermissionRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A faint light wash over the window's background.
    QColor fill(255, 255, 255);
    fill.setAlphaF(0.16 * 0.4);
    KestalCard::paintCard(p, QRectF(rect()), 10, fill, Qt::transparent, 0);
}
