// The processing spinner: two arms, blue and gold, winding outwards through 4.8 radians from
// opposite sides of the centre and turning clockwise once every 2π / 1.9 seconds.
#pragma once

#include <QPolygonF>
#include <QSizeF>

class QPainter;
class QPointF;

class TrypillianSpiral {
public:
    explicit TrypillianSpiral(double scale) : scale_(scale) {}

    // The square it is drawn in: 21 × scale on each side.
    double side() const { return 21 * scale_; }
    // The points of the arm starting at angle `phase`, at time `t`, in a canvas of `canvas` size.
    QPolygonF arm(double phase, double t, const QSizeF& canvas) const;
    // Draws both arms with the canvas's top left corner at `topLeft`.
    void paint(QPainter& painter, const QPointF& topLeft, double t) const;

private:
    double scale_;
};
