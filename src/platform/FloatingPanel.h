// A small floating window for status displays: frameless and translucent, above every other
// window on every workspace, shown without activating the program and never taking keyboard
// focus. Dragging its background moves it.
#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QWidget>

#include <functional>

namespace platform {

class FloatingPanel : public QWidget {
    Q_OBJECT
public:
    explicit FloatingPanel(QWidget* parent = nullptr);

    // Makes `content` fill the panel (the panel takes ownership).
    void setContent(QWidget* content);
    // Shows the panel above everything, leaving focus and activation where they are.
    void orderFront();
    // Hides the panel (again, harmlessly, when it is hidden).
    void orderOut();
    // The visible outline of the content. Where no compositing manager blends translucent
    // windows, the window is cut to this shape instead, so nothing dark shows around it.
    void setShape(const QPainterPath& shape);

    // Called with the top-left corner after every move, by a drag or by the program.
    std::function<void(QPoint)> onMoved;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyX11Hints();
    void applyShape();
    static bool compositing();

    QWidget* content_ = nullptr;
    bool dragging_ = false;
    QPoint dragOffset_;
    QPainterPath shape_;
};

}  // namespace platform
