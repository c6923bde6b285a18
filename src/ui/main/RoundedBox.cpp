#include "ui/main/RoundedBox.h"

#include "ui/kit/KestalCard.h"

#include <QPainter>

#include <algorithm>

RoundedBox::RoundedBox(double radius, QColor fill, QWidget* parent) : QWidget(parent), radius_(radius), fill_(fill) {
    setAttribute(Qt::WA_StyledBackground, false);
}

QColor RoundedBox::quaternary(double opacity) {
    QColor c(255, 255, 255);
    c.setAlphaF(std::clamp(0.10 * opacity, 0.0, 1.0));
    return c;
}

void RoundedBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    KestalCard::paintCard(p, QRectF(rect()), radius_, fill_, Qt::transparent, 0);
}
