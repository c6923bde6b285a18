#include "ui/kit/ActivitySpinner.h"

#include "platform/MainQueue.h"

#include <QPainter>

#include <cmath>

namespace {
constexpr int kSpokes = 12;
constexpr double kFrameSeconds = 1.0 / 12.0;
}  // namespace

ActivitySpinner::ActivitySpinner(QColor color, double size, QWidget* parent)
    : QWidget(parent), color_(color), size_(size) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(sizeHint());
}

ActivitySpinner::~ActivitySpinner() { frame_.cancel(); }

QSize ActivitySpinner::sizeHint() const {
    const int s = static_cast<int>(std::ceil(size_));
    return {s, s};
}

void ActivitySpinner::showEvent(QShowEvent*) {
    if (!frame_.isValid() || frame_.isCancelled()) scheduleFrame();
}

void ActivitySpinner::hideEvent(QHideEvent*) { frame_.cancel(); }

void ActivitySpinner::scheduleFrame() {
    std::weak_ptr<int> alive = alive_;
    frame_ = platform::MainQueue::after(kFrameSeconds, [this, alive] {
        if (alive.expired() || !isVisible()) return;
        phase_ = (phase_ + 1) % kSpokes;
        update();
        scheduleFrame();
    });
}

void ActivitySpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    p.translate(width() / 2.0, height() / 2.0);
    const double outer = side / 2.0;
    const double inner = outer * 0.5;
    const double thickness = std::max(1.5, side / 9.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the phase is brightest; those behind it fade out.
        const int age = (phase_ - i + kSpokes) % kSpokes;
        QColor c = color_;
        c.setAlphaF(color_.alphaF() * (1.0 - 0.75 * age / (kSpokes - 1.0)));
        p.setPen(QPen(c, thickness, Qt::SolidLine, Qt::RoundCap));
        const double angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        p.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                   QPointF(std::cos(angle) * (outer - thickness / 2), std::sin(angle) * (outer - thickness / 2)));
    }
}
