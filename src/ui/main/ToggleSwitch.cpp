#include "ui/main/ToggleSwitch.h"

#include "ui/kit/Kestal.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

ToggleSwitch::ToggleSwitch(const QString& label, bool mini, QWidget* parent) : QAbstractButton(parent), mini_(mini) {
    setCheckable(true);
    setText(label);
    setCursor(Qt::PointingHandCursor);
    setFont(Kestal::body());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSizeF ToggleSwitch::trackSize() const { return mini_ ? QSizeF(26, 15) : QSizeF(38, 22); }

QSize ToggleSwitch::sizeHint() const {
    const QSizeF track = trackSize();
    int w = static_cast<int>(track.width());
    if (!text().isEmpty()) w += QFontMetrics(font()).horizontalAdvance(text()) + 8;
    const int h = std::max(static_cast<int>(track.height()), QFontMetrics(font()).height());
    return {w, h};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QSizeF track = trackSize();
    double x = 0;
    if (!text().isEmpty()) {
        const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
        p.setPen(isEnabled() ? Kestal::text : Kestal::faint);
        p.drawText(QRectF(0, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
        x = textWidth + 8;
    }
    const QRectF trackRect(x, (height() - track.height()) / 2, track.width(), track.height());
    QColor fill = isChecked() ? Kestal::blue : QColor(255, 255, 255, 40);
    if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.4);
    QPainterPath shape;
    shape.addRoundedRect(trackRect, track.height() / 2, track.height() / 2);
    p.fillPath(shape, fill);
    const double inset = 2;
    const double knob = track.height() - 2 * inset;
    const double knobX = isChecked() ? trackRect.right() - inset - knob : trackRect.left() + inset;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(knobX, trackRect.top() + inset, knob, knob));
}
