// A container on a rounded surface with a 1 pt border drawn inside its edge. It adds no padding:
// give it a layout with the margins the content needs.
#pragma once

#include "ui/kit/Kestal.h"

#include <QColor>
#include <QFrame>

class KestalCard : public QFrame {
    Q_OBJECT
public:
    explicit KestalCard(double radius = 12, QColor borderColor = Kestal::border, QWidget* parent = nullptr);

    double radius() const { return radius_; }
    QColor borderColor() const { return borderColor_; }

    // Paints the card look into `rect` (used by the card and by anything drawn the same way).
    static void paintCard(QPainter& p, const QRectF& rect, double radius, const QColor& fill, const QColor& border,
                          double borderWidth = 1.0);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double radius_;
    QColor borderColor_;
};
