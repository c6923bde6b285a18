#include "ui/overlay/TrypillianSpiral.h"

#include "ui/kit/Kestal.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

QPolygonF TrypillianSpiral::arm(double phase, double t, const QSizeF& canvas) const {
    const double cx = canvas.width() / 2, cy = canvas.height() / 2;
    const double r0 = 1.2 * scale_;
    const double r1 = canvas.width() / 2 - 1.6 * scale_;
    const double rot = 1.9 * t;
    QPolygonF points;
    points.reserve(70);
    auto at = [&](double r, double theta) { return QPointF(cx + r * std::cos(theta), cy + r * std::sin(theta)); };
    points << at(r0, phase + rot);
    // The running value is accumulated step by step, as the arm is walked.
    for (double a = 0.07; a <= 4.8; a += 0.07) points << at(r0 + (r1 - r0) * a / 4.8, phase + a + rot);
    return points;
}

void TrypillianSpiral::paint(QPainter& painter, const QPointF& topLeft, double t) const {
    const QSizeF canvas(side(), side());
    painter.save();
    painter.translate(topLeft);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const struct {
        double phase;
        QColor color;
    } arms[] = {{0, Kestal::blue}, {std::numbers::pi, Kestal::gold}};
    for (const auto& a : arms) {
        QPen pen(a.color, 2 * scale_, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.setPen(pen);
        painter.drawPolyline(arm(a.phase, t, canvas));
    }
    painter.restore();
}
