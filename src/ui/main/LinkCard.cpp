#include "ui/main/LinkCard.h"

#include "platform/Workspace.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "platform/Symbols.h"
#include "ui/main/RoundedBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QLabel* passive(QLabel* label) {
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}
}  // namespace

LinkCard::LinkCard(const QString& icon, const QColor& tint, const QString& title, const QString& subtitle,
                   const QString& action, const QString& url, QWidget* parent)
    : QAbstractButton(parent), title_(title), action_(action), url_(url) {
    setCursor(Qt::PointingHandCursor);
    setText(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(14);

    QColor tileFill = tint;
    tileFill.setAlphaF(0.18);
    auto* tile = new RoundedBox(10, tileFill, this);
    tile->setAttribute(Qt::WA_TransparentForMouseEvents);
    tile->setFixedSize(44, 44);
    auto* tileLayout = new QHBoxLayout(tile);
    tileLayout->setContentsMargins(0, 0, 0, 0);
    auto* symbol = passive(new QLabel(tile));
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setPixmap(Symbols::pixmap(icon, 20, tint, devicePixelRatioF()));
    tileLayout->addWidget(symbol);
    row->addWidget(tile, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* titleLabel = passive(new QLabel(title, this));
    titleLabel->setObjectName("linkTitle");
    titleLabel->setFont(Kestal::headline());
    titleLabel->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::text)));
    titleLabel->setWordWrap(true);
    auto* subtitleLabel = passive(new QLabel(subtitle, this));
    subtitleLabel->setObjectName("linkSubtitle");
    subtitleLabel->setFont(Kestal::caption());
    subtitleLabel->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::dim)));
    subtitleLabel->setWordWrap(true);
    column->addWidget(titleLabel);
    column->addWidget(subtitleLabel);
    row->addLayout(column, 1);

    auto* cta = new QHBoxLayout;
    cta->setSpacing(4);
    auto* actionLabel = passive(new QLabel(action, this));
    actionLabel->setObjectName("linkAction");
    actionLabel->setFont(Kestal::font(12, QFont::Medium));
    actionLabel->setStyleSheet(QString("color: %1;").arg(Kestal::css(tint)));
    cta->addWidget(actionLabel);
    auto* arrow = passive(new QLabel(this));
    arrow->setPixmap(Symbols::pixmap("arrow.up.right", 10, tint, devicePixelRatioF()));
    cta->addWidget(arrow);
    row->addLayout(cta);

    connect(this, &QAbstractButton::clicked, this, [this] { open(); });
}

bool LinkCard::open() const {
    const QUrl url(url_, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return false;
    return platform::Workspace::shared().openUrl(url_.toStdString());
}

QSize LinkCard::sizeHint() const { return layout()->sizeHint(); }
QSize LinkCard::minimumSizeHint() const { return layout()->minimumSize(); }

void LinkCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    KestalCard::paintCard(p, QRectF(rect()), 12, Kestal::surface, Kestal::border);
}
