#include "ui/overlay/WidgetView.h"

#include "platform/MainQueue.h"
#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"
#include "ui/kit/KestalCard.h"
#include "ui/overlay/ShimmerText.h"
#include "ui/overlay/TrypillianSpiral.h"
#include "ui/overlay/Waveform.h"
#include "ui/overlay/WidgetModel.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr double kCapsuleWidth = 240, kCapsuleHeight = 58;
constexpr double kChangeDuration = 0.2;
}  // namespace

WidgetView::WidgetView(WidgetModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    // The view comes on screen with the first show: that state fades in and its shimmer starts now.
    lastKey_ = model_->state().animationKey();
    keyChangedAt_ = platform::MainQueue::now();
    connect(model_, &WidgetModel::changed, this, &WidgetView::modelChanged);
}

WidgetView::~WidgetView() { stopFrames(); }

std::string WidgetView::timeString(double elapsed) {
    // A clock that went backwards or a value that is not a number reads 0:00.
    const long n = std::isfinite(elapsed) && elapsed > 0 ? static_cast<long>(std::min(elapsed, 1e12)) : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", n / 60, n % 60);
    return buf;
}

QRectF WidgetView::capsuleRect() const {
    const double s = model_->scale();
    const double w = kCapsuleWidth * s, h = kCapsuleHeight * s;
    return QRectF(width() / 2.0 - w / 2, height() / 2.0 - h / 2, w, h);
}

QPainterPath WidgetView::capsulePath() const {
    const QRectF r = capsuleRect();
    QPainterPath path;
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);
    return path;
}

QRectF WidgetView::contentRect() const {
    const double s = model_->scale();
    return capsuleRect().adjusted(18 * s, 0, -18 * s, 0);
}

QRectF WidgetView::dotRect() const {
    const double s = model_->scale();
    const QRectF c = contentRect();
    return QRectF(c.left(), c.center().y() - 4.5 * s, 9 * s, 9 * s);
}

QRectF WidgetView::timeRect() const {
    const double s = model_->scale();
    const QRectF c = contentRect();
    return QRectF(c.right() - 34 * s, c.top(), 34 * s, c.height());
}

QRectF WidgetView::waveformRect() const {
    const double s = model_->scale();
    const QRectF c = contentRect();
    const double left = dotRect().right() + 11 * s;
    const double right = timeRect().left() - 11 * s;
    return QRectF(left, c.center().y() - 20 * s, std::max(0.0, right - left), 40 * s);
}

double WidgetView::contentOpacity(double t) const {
    const double x = (t - keyChangedAt_) / kChangeDuration;
    if (x >= 1) return 1;
    if (x <= 0) return 0;
    return 1 - (1 - x) * (1 - x);  // ease-out
}

void WidgetView::updateFonts() {
    const double s = model_->scale();
    if (s == fontScale_) return;
    fontScale_ = s;
    timeFont_ = Kestal::font(12 * s, QFont::Medium);
    labelFont_ = ShimmerText::fontFor(13 * s);
}

void WidgetView::paintAt(QPainter& p, double t) {
    const double s = model_->scale();
    updateFonts();
    const WidgetState& state = model_->state();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QRectF capsule = capsuleRect();
    KestalCard::paintCard(p, capsule, capsule.height() / 2, Kestal::bg, Kestal::border);

    p.save();
    p.setOpacity(contentOpacity(t));
    const QRectF c = contentRect();
    const double sinceChange = t - keyChangedAt_;
    switch (state.kind()) {
    case WidgetState::Kind::hidden: break;
    case WidgetState::Kind::recording: {
        p.setPen(Qt::NoPen);
        p.setBrush(Kestal::gold);
        p.drawEllipse(dotRect());
        Waveform(model_->level(), waveformBars).paint(p, waveformRect(), t, layer_);
        QColor dimWhite(255, 255, 255);
        dimWhite.setAlphaF(0.55);
        p.setPen(dimWhite);
        p.setFont(timeFont_);
        p.drawText(timeRect(), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                   QString::fromStdString(timeString(model_->elapsed())));
        break;
    }
    case WidgetState::Kind::processing: {
        const TrypillianSpiral spiral(s);
        const ShimmerText label(QString::fromStdString(model_->processingLabel()), labelFont_);
        const double gap = 9 * s;
        const double textW = label.width(std::max(0.0, c.width() - spiral.side() - gap));
        const double left = c.center().x() - (spiral.side() + gap + textW) / 2;
        spiral.paint(p, QPointF(left, c.center().y() - spiral.side() / 2), t);
        label.paint(p, QRectF(left + spiral.side() + gap, c.top(), textW + 1, c.height()), sinceChange);
        break;
    }
    case WidgetState::Kind::done: {
        const double markSide = 16 * s;
        const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
        if (markKey_ != state.animationKey() || markSize_ != markSide * dpr) {
            mark_ = state.ok() ? Symbols::pixmap("checkmark.circle.fill", markSide, Kestal::gold, dpr)
                               : Symbols::pixmap("exclamationmark.triangle.fill", markSide, Kestal::orange, dpr);
            markKey_ = state.animationKey();
            markSize_ = markSide * dpr;
        }
        const ShimmerText message(QString::fromStdString(state.message()), labelFont_);
        const double gap = 8 * s;
        const double textW = message.width(std::max(0.0, c.width() - markSide - gap));
        const double left = c.center().x() - (markSide + gap + textW) / 2;
        if (!mark_.isNull()) p.drawPixmap(QPointF(left, c.center().y() - markSide / 2), mark_);
        message.paint(p, QRectF(left + markSide + gap, c.top(), textW + 1, c.height()), sinceChange);
        break;
    }
    }
    p.restore();
}

void WidgetView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    paintAt(p, platform::MainQueue::now());
    ++framesPainted_;
}

void WidgetView::modelChanged() {
    const int key = model_->state().animationKey();
    const bool newKind = key != lastKey_;
    if (newKind) {
        lastKey_ = key;
        keyChangedAt_ = platform::MainQueue::now();
    }
    // While frames run, the next one shows the change; level updates alone need no extra paint.
    if (newKind || !isAnimating()) update();
}

void WidgetView::showEvent(QShowEvent*) { scheduleFrame(); }
void WidgetView::hideEvent(QHideEvent*) { stopFrames(); }

void WidgetView::scheduleFrame() {
    if (isAnimating()) return;
    std::weak_ptr<int> alive = alive_;
    frame_ = platform::MainQueue::after(frameInterval, [this, alive] {
        if (alive.expired()) return;
        frame_ = {};
        if (!isVisible()) return;
        update();
        scheduleFrame();
    });
}

void WidgetView::stopFrames() {
    frame_.cancel();
    frame_ = {};
}
