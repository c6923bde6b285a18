// A plain rounded rectangle behind its content: a fill and an optional 1 pt border, no padding of
// its own (give it a layout with the margins the content needs). The pages draw their rows, boxes
// and tiles with it.
#pragma once

#include <QColor>
#include <QWidget>

class RoundedBox : public QWidget {
    Q_OBJECT
public:
    explicit RoundedBox(double radius, QColor fill, QWidget* parent = nullptr);

    double radius() const { return radius_; }
    QColor fill() const { return fill_; }
    void setFill(const QColor& fill);
    void setBorder(const QColor& border);

    // The desktop's faintest label tint (white at 10 % on the dark look) at `opacity` of itself:
    // the "quaternary" fill of rows and tiles.
    static QColor quaternary(double opacity = 1.0);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double radius_;
    QColor fill_;
    QColor border_ = Qt::transparent;
};
