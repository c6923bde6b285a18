// A one-line label in half-bright white with a bright band sweeping across it from left to right
// every 1.3 s, starting again from the left.
#pragma once

#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

class ShimmerText {
public:
    ShimmerText(QString text, double size);
    // With the font already made (the view keeps it between frames).
    ShimmerText(QString text, QFont font) : text_(std::move(text)), font_(std::move(font)) {}
    static QFont fontFor(double size);

    const QString& text() const { return text_; }
    QFont font() const { return font_; }
    // Width the text takes, at most `maxWidth` (longer text is cut with an ellipsis).
    double width(double maxWidth) const;
    // The band's position after `sinceAppear` seconds, in text widths: −0.7 at the start,
    // 1.1 at the end of each 1.3 s sweep.
    static double phase(double sinceAppear);

    // Draws the text into `rect` (left-aligned, vertically centred).
    void paint(QPainter& painter, const QRectF& rect, double sinceAppear) const;

private:
    QString text_;
    QFont font_;
};
