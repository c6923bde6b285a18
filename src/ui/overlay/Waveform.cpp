#include "ui/overlay/Waveform.h"

#include "ui/kit/Kestal.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

Waveform::Waveform(float level, int count) : level_(level), count_(std::max(2, count)) {}

double Waveform::effectiveLevel() const {
    const double lv = level_;
    if (std::isnan(lv) || lv < 0.12) return 0.12;
    return std::min(lv, 1.0);
}

double Waveform::barHeight(int i, double t, double maxH) const {
    const double lv = effectiveLevel();
    const double wave = 0.5 + 0.5 * std::sin(6 * t - 0.55 * i);
    const double envelope = std::sin(std::numbers::pi * i / (count_ - 1));
    const double factor = (0.62 + 0.38 * lv) * (0.34 + 0.66 * envelope * wave);
    return std::max(3.0, maxH * factor);
}

double Waveform::barWidth(double availableWidth) const {
    return std::max(2.0, (availableWidth - spacing * (count_ - 1)) / count_);
}

QRectF Waveform::barRect(int i, double t, const QRectF& frame) const {
    const double bw = barWidth(frame.width());
    const double total = bw * count_ + spacing * (count_ - 1);
    const double left = frame.center().x() - total / 2;
    const double h = barHeight(i, t, frame.height());
    return QRectF(left + i * (bw + spacing), frame.center().y() - h / 2, bw, h);
}

void Waveform::paint(QPainter& painter, const QRectF& frame, double t, QImage& layer) const {
    if (frame.width() <= 0 || frame.height() <= 0) return;
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize px(static_cast<int>(std::ceil(frame.width() * dpr)), static_cast<int>(std::ceil(frame.height() * dpr)));
    if (layer.size() != px) {
        layer = QImage(px, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
    }
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        const QRectF local(0, 0, frame.width(), frame.height());
        for (int i = 0; i < count_; ++i) {
            const QRectF bar = barRect(i, t, local);
            QLinearGradient fill(bar.topLeft(), bar.bottomLeft());
            fill.setColorAt(0, Kestal::blue);
            fill.setColorAt(1, Kestal::gold);
            p.setBrush(fill);
            const double r = bar.width() / 2;
            p.drawRoundedRect(bar, r, r);
        }
        // Fade the outer bars: keep the middle 72 %, ramp to nothing over the outer 14 % each side.
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient mask(local.topLeft(), local.topRight());
        mask.setColorAt(0, Qt::transparent);
        mask.setColorAt(0.14, Qt::black);
        mask.setColorAt(0.86, Qt::black);
        mask.setColorAt(1, Qt::transparent);
        p.fillRect(local, mask);
    }
    painter.drawImage(frame.topLeft(), layer);
}
