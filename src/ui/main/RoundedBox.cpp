#include "ui/main/RoundedBox.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

RoundedBox::RoundedBox(double radius, QColor fill, QWidget* parent) : QWidget(parent), radius_(radius), fill_(fill) {
    setAttribute(Qt::WA_StyledBackground, false);
}

void RoundedBox::setFill(const QColor& fill) {
    fill_ = fill;
    update();
}

void RoundedBox::setBorder(const QColor& border) {
    border_ = border;
    update();
}

QColor RoundedBox::quaternary(double opacity) {
    QColor c(255, 255, 255);
    c.setAlphaF(std::clamp(0.10 * opacity, 0.0, 1.0));
    return c;
}

void RoundedBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius_, radius_);
    p.fillPath(shape, fill_);
    if (border_.alpha() > 0) {
        QPainterPath line;
        line.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_ - 0.5, radius_ - 0.5);
        p.setPen(QPen(border_, 1));
        p.drawPath(line);
    }
}
