// A plain rounded rectangle behind its content: a fill, no border and no padding of its own (give
// it a layout with the margins the content needs). The pages draw their rows, boxes and tiles
// with it.
#pragma once

#include <QColor>
#include <QWidget>

class RoundedBox : public QWidget {
    Q_OBJECT
public:
    explicit RoundedBox(double radius, QColor fill, QWidget* parent = nullptr);

    double radius() const { return radius_; }
    QColor fill() const { return fill_; }

    // The desktop's faintest label tint (white at 10 % on the dark look) at `opacity` of itself:
    // the "quaternary" fill of rows and tiles.
    static QColor quaternary(double opacity = 1.0);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double radius_;
    QColor fill_;
};
