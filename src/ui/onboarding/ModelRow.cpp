#include "ui/onboarding/ModelRow.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "platform/Symbols.h"
#include "ui/onboarding/PermissionRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRadioSize = 17;

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = Kestal::plainLabel(text, font, color, parent);
    // Inside a button a child would take the button-text role; these are plain text.
    l->setForegroundRole(QPalette::WindowText);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(alpha);
    return c;
}

}  // namespace

ModelRow::ModelRow(WhisperModel model, bool isRecommended, std::function<void()> onSelect, QWidget* parent)
    : QAbstractButton(parent), model_(std::move(model)), isRecommended_(isRecommended), onSelect_(std::move(onSelect)) {
    setObjectName(QString::fromStdString("modelRow." + model_.id));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setText(QString::fromStdString(model_.name));
    setAccessibleName(QString::fromStdString(model_.name));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);

    radio_ = new QLabel(this);
    radio_->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(radio_, 0, Qt::AlignVCenter);

    auto* details = new QVBoxLayout;
    details->setSpacing(2);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(6);
    titleLine->addWidget(textLabel(QString::fromStdString(model_.name), Kestal::headline(), Kestal::text, this), 0,
                         Qt::AlignVCenter);

    badge_ = textLabel("Recommended for this computer", Kestal::font(10, QFont::DemiBold), Kestal::text, this);
    badge_->setObjectName("badge");
    badge_->setContentsMargins(0, 0, 0, 0);
    const int badgeHeight = badge_->fontMetrics().height() + 4;
    badge_->setFixedHeight(badgeHeight);
    badge_->setStyleSheet(QString("QLabel { background: %1; border-radius: %2px; padding: 0px 6px; color: %3; }")
                              .arg(Kestal::css(withAlpha(Kestal::blue, 0.18)))
                              .arg(badgeHeight / 2)
                              .arg(Kestal::css(Kestal::text)));
    badge_->setVisible(isRecommended_);
    titleLine->addWidget(badge_, 0, Qt::AlignVCenter);

    installedMark_ = new QLabel(this);
    installedMark_->setObjectName("installedMark");
    installedMark_->setAttribute(Qt::WA_TransparentForMouseEvents);
    installedMark_->setPixmap(
        Symbols::pixmap("checkmark.circle.fill", 11, PermissionRow::grantedColor(), devicePixelRatioF()));
    installedMark_->hide();
    titleLine->addWidget(installedMark_, 0, Qt::AlignVCenter);
    titleLine->addStretch(1);
    details->addLayout(titleLine);

    details->addWidget(textLabel(QString::fromStdString(model_.note), Kestal::caption(), Kestal::dim, this));

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName("progressBar");
    progressBar_->setAttribute(Qt::WA_TransparentForMouseEvents);
    progressBar_->setRange(0, 1000);
    progressBar_->setTextVisible(false);
    progressBar_->setFixedHeight(4);
    progressBar_->setStyleSheet(QString("QProgressBar { background: %1; border: none; border-radius: 2px; }"
                                        "QProgressBar::chunk { background: %2; border-radius: 2px; }")
                                    .arg(Kestal::css(Kestal::border), Kestal::css(Kestal::blue)));
    progressBar_->hide();
    details->addWidget(progressBar_);
    row->addLayout(details, 1);

    status_ = textLabel({}, Kestal::caption(), Kestal::dim, this);
    status_->setObjectName("status");
    row->addWidget(status_, 0, Qt::AlignVCenter);

    connect(this, &QAbstractButton::clicked, this, [this] {
        if (onSelect_) onSelect_();
    });
    refreshLook();
}

void ModelRow::setState(bool isInstalled, bool isSelected, bool isDownloading, double progress) {
    const bool changed = isInstalled != isInstalled_ || isSelected != isSelected_ || isDownloading != isDownloading_ ||
                         progress != progress_;
    isInstalled_ = isInstalled;
    isSelected_ = isSelected;
    isDownloading_ = isDownloading;
    progress_ = progress;
    if (changed) refreshLook();
}

QString ModelRow::radioSymbol() const { return isSelected_ ? "largecircle.fill.circle" : "circle"; }

void ModelRow::refreshLook() {
    radio_->setPixmap(
        Symbols::pixmap(radioSymbol(), kRadioSize, isSelected_ ? Kestal::blue : Kestal::dim, devicePixelRatioF()));
    installedMark_->setVisible(isInstalled_);
    status_->setText(isInstalled_ ? QString("Ready") : QString::number(model_.sizeMB) + " MB");
    progressBar_->setVisible(isDownloading_);
    progressBar_->setValue(static_cast<int>(std::lround(std::clamp(progress_, 0.0, 1.0) * 1000)));
    update();
}

QSize ModelRow::sizeHint() const { return layout() ? layout()->sizeHint() : QAbstractButton::sizeHint(); }
QSize ModelRow::minimumSizeHint() const {
    return layout() ? layout()->minimumSize() : QAbstractButton::minimumSizeHint();
}

void ModelRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor fill = isSelected_ ? withAlpha(Kestal::blue, 0.14) : withAlpha(QColor(142, 142, 147), 0.12);
    KestalCard::paintCard(p, QRectF(rect()), 10, fill, Qt::transparent, 0);
}
