#include "ui/kit/KestalCard.h"

#include "ui/kit/Kestal.h"

#include <QPainter>
#include <QPainterPath>

KestalCard::KestalCard(double radius, QColor borderColor, QWidget* parent)
    : QFrame(parent), radius_(radius), borderColor_(borderColor) {
    setFrameShape(QFrame::NoFrame);
    setContentsMargins(0, 0, 0, 0);
    setAttribute(Qt::WA_TranslucentBackground, false);
}

void KestalCard::paintCard(QPainter& p, const QRectF& rect, double radius, const QColor& fill, const QColor& border,
                           double borderWidth) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    p.fillPath(shape, fill);
    if (borderWidth > 0 && border.alpha() > 0) {
        // A stroke on the inside of the edge: the line's outer side lies on the shape's edge.
        const double h = borderWidth / 2;
        const QRectF inner = rect.adjusted(h, h, -h, -h);
        QPainterPath line;
        line.addRoundedRect(inner, std::max(0.0, radius - h), std::max(0.0, radius - h));
        p.setPen(QPen(border, borderWidth));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
    }
    p.restore();
}

void KestalCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintCard(p, QRectF(rect()), radius_, Kestal::surface, borderColor_);
}
