// The grid of icon styles: one tile per style in the order of AppIconStyle::allCases(), the
// selected one tinted blue with a 2 pt blue outline. A click selects the tile's style and applies
// it (again, when it is already selected).
#pragma once

#include "ui/kit/AppIconStyle.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <vector>

class AppIconPicker : public QWidget {
    Q_OBJECT
public:
    // Columns as many as fit at `minimumColumnWidth` or more, `spacing` apart.
    struct Columns {
        double minimumColumnWidth = 92;
        double spacing = 12;
    };

    explicit AppIconPicker(AppIconStyle selected, QWidget* parent = nullptr);
    AppIconPicker(AppIconStyle selected, Columns columns, QWidget* parent = nullptr);

    AppIconStyle selected() const { return selected_; }
    int columnCount() const;
    int tileCount() const { return static_cast<int>(tiles_.size()); }
    AppIconStyle tileStyle(int index) const { return tiles_.at(index).style; }
    QRectF tileRect(int index) const;

    // How a tile is drawn.
    struct TileLook {
        QColor fill;
        QColor outline;
        double outlineWidth;
        QColor textColor;
        bool hasImage;
    };
    TileLook tileLook(int index) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Tile {
        AppIconStyle style;
        QImage image;  // null when the style's artwork is missing
    };
    int columnsFor(double width) const;
    double columnWidth(double width) const;
    double nameHeight(double colWidth) const;
    double tileHeight(double width) const;
    void choose(int index);

    AppIconStyle selected_;
    Columns columns_;
    std::vector<Tile> tiles_;
};
