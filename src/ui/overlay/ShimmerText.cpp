#include "ui/overlay/ShimmerText.h"

#include "ui/kit/Kestal.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

ShimmerText::ShimmerText(QString text, double size) : text_(std::move(text)), font_(fontFor(size)) {}

QFont ShimmerText::fontFor(double size) { return Kestal::font(size, QFont::DemiBold); }

double ShimmerText::width(double maxWidth) const {
    const QFontMetricsF fm(font_);
    return std::min(maxWidth, fm.horizontalAdvance(fm.elidedText(text_, Qt::ElideRight, maxWidth)));
}

double ShimmerText::phase(double sinceAppear) {
    double cycle = std::fmod(std::max(0.0, sinceAppear) / 1.3, 1.0);
    return -0.7 + 1.8 * cycle;
}

void ShimmerText::paint(QPainter& painter, const QRectF& rect, double sinceAppear) const {
    const QFontMetricsF fm(font_);
    const QString shown = fm.elidedText(text_, Qt::ElideRight, rect.width());
    const double w = std::max(1.0, fm.horizontalAdvance(shown));
    // The base at 45 % white with full white masked by a band 0.65 w wide, whose clear-white-
    // white-clear ramp sits at w × phase: one pass with a gradient pen gives the same pixels.
    const double band = rect.left() + w * phase(sinceAppear);
    QLinearGradient g(QPointF(band, 0), QPointF(band + 0.65 * w, 0));
    g.setSpread(QGradient::PadSpread);
    QColor base(255, 255, 255);
    base.setAlphaF(0.45);
    g.setColorAt(0, base);
    g.setColorAt(0.4, Qt::white);
    g.setColorAt(0.6, Qt::white);
    g.setColorAt(1, base);
    painter.save();
    painter.setFont(font_);
    painter.setPen(QPen(QBrush(g), 1));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    painter.restore();
}
