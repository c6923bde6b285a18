// The live bar meter of the recording row: `count` rounded bars, 3 points apart, swinging with
// time and rising with the input level, blue at the top and gold at the bottom, the outer bars
// fading out.
#pragma once

#include <QImage>
#include <QRectF>

class QPainter;

class Waveform {
public:
    Waveform(float level, int count);

    float level() const { return level_; }
    int count() const { return count_; }

    // The level the bars follow: clamped to 0.12 … 1 (not-a-number counts as 0.12).
    double effectiveLevel() const;
    // Height of bar `i` at time `t` (seconds) when `maxH` is available.
    double barHeight(int i, double t, double maxH) const;
    // Width of each bar when `availableWidth` is available (at least 2).
    double barWidth(double availableWidth) const;
    // The bar's rectangle inside `frame`, centred vertically; the row of bars is centred horizontally.
    QRectF barRect(int i, double t, const QRectF& frame) const;

    // Draws the bars into `frame`. `layer` is scratch space reused between frames.
    void paint(QPainter& painter, const QRectF& frame, double t, QImage& layer) const;

    static constexpr double spacing = 3;

private:
    float level_;
    int count_;
};
