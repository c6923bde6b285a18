#include "ui/kit/AppIconPicker.h"

#include "ui/kit/AppIconManager.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "platform/Symbols.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kRowSpacing = 10;
constexpr double kVerticalPadding = 4;
constexpr double kTilePadding = 8;
constexpr double kImageSize = 56;
constexpr double kImageTextSpacing = 6;
constexpr double kNameSize = 10.5;
}  // namespace

AppIconPicker::AppIconPicker(AppIconStyle selected, QWidget* parent) : AppIconPicker(selected, Columns{92, 12}, parent) {}

AppIconPicker::AppIconPicker(AppIconStyle selected, Columns columns, QWidget* parent)
    : QWidget(parent), selected_(selected), columns_(columns) {
    for (AppIconStyle style : AppIconStyle::allCases()) {
        tiles_.push_back(Tile{style, style.image()});
    }
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setCursor(Qt::PointingHandCursor);
}

int AppIconPicker::columnsFor(double width) const {
    const double step = columns_.minimumColumnWidth + columns_.spacing;
    return std::max(1, static_cast<int>(std::floor((width + columns_.spacing) / step)));
}

int AppIconPicker::columnCount() const { return columnsFor(width()); }

double AppIconPicker::columnWidth(double width) const {
    const int cols = columnsFor(width);
    return std::max(1.0, (width - columns_.spacing * (cols - 1)) / cols);
}

double AppIconPicker::nameHeight(double colWidth) const {
    // Names wrap inside the tile; every tile gets the height of the tallest name.
    const QFontMetricsF fm(Kestal::font(kNameSize));
    const double textWidth = std::max(1.0, colWidth - 2 * kTilePadding);
    double h = fm.height();
    for (const Tile& t : tiles_)
        h = std::max(h, fm.boundingRect(QRectF(0, 0, textWidth, 1e6), Qt::TextWordWrap | Qt::AlignHCenter,
                                        QString::fromStdString(t.style.displayName()))
                            .height());
    return h;
}

double AppIconPicker::tileHeight(double width) const {
    return kTilePadding + kImageSize + kImageTextSpacing + nameHeight(columnWidth(width)) + kTilePadding;
}

QRectF AppIconPicker::tileRect(int index) const {
    const int cols = columnCount();
    const double colWidth = columnWidth(width());
    const double h = tileHeight(width());
    const int row = index / cols, col = index % cols;
    return QRectF(col * (colWidth + columns_.spacing), kVerticalPadding + row * (h + kRowSpacing), colWidth, h);
}

int AppIconPicker::heightForWidth(int width) const {
    const int cols = columnsFor(width);
    const int rows = (tileCount() + cols - 1) / cols;
    return static_cast<int>(std::ceil(2 * kVerticalPadding + rows * tileHeight(width) + (rows - 1) * kRowSpacing));
}

QSize AppIconPicker::sizeHint() const {
    const int w = static_cast<int>(4 * columns_.minimumColumnWidth + 3 * columns_.spacing);
    return {w, heightForWidth(w)};
}

QSize AppIconPicker::minimumSizeHint() const {
    // The least height the grid takes at any width: every tile in one row. The height at one
    // column is far from a minimum (the page around would keep that much space below the grid
    // whatever its width); the layouts ask heightForWidth for the height at the width they give.
    const int w = static_cast<int>(columns_.minimumColumnWidth);
    const int oneRow = static_cast<int>(tileCount() * columns_.minimumColumnWidth + (tileCount() - 1) * columns_.spacing);
    return {w, heightForWidth(std::max(w, oneRow))};
}

AppIconPicker::TileLook AppIconPicker::tileLook(int index) const {
    const bool isSelected = tiles_.at(index).style == selected_;
    QColor tint = Kestal::blue;
    tint.setAlphaF(0.16);
    return TileLook{isSelected ? tint : Kestal::surface, isSelected ? Kestal::blue : Kestal::border,
                    isSelected ? 2.0 : 1.0, isSelected ? Kestal::text : Kestal::dim, !tiles_.at(index).image.isNull()};
}

void AppIconPicker::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QFont nameFont = Kestal::font(kNameSize);
    for (int i = 0; i < tileCount(); ++i) {
        const QRectF r = tileRect(i);
        const TileLook look = tileLook(i);
        KestalCard::paintCard(p, r, 12, look.fill, look.outline, look.outlineWidth);

        const QRectF imageRect(r.center().x() - kImageSize / 2, r.top() + kTilePadding, kImageSize, kImageSize);
        const QImage& image = tiles_[i].image;
        if (!image.isNull()) {
            const QSizeF fitted = QSizeF(image.size()).scaled(imageRect.size(), Qt::KeepAspectRatio);
            p.drawImage(QRectF(imageRect.center().x() - fitted.width() / 2, imageRect.center().y() - fitted.height() / 2,
                               fitted.width(), fitted.height()),
                        image);
        } else {
            p.drawPixmap(imageRect.topLeft(), Symbols::pixmap("questionmark.app", kImageSize, Kestal::dim, devicePixelRatioF()));
        }

        p.setFont(nameFont);
        p.setPen(look.textColor);
        const QRectF textRect(r.left() + kTilePadding, imageRect.bottom() + kImageTextSpacing, r.width() - 2 * kTilePadding,
                              r.bottom() - kTilePadding - imageRect.bottom() - kImageTextSpacing);
        p.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                   QString::fromStdString(tiles_[i].style.displayName()));
    }
}

void AppIconPicker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < tileCount(); ++i)
        if (tileRect(i).contains(event->position())) {
            choose(i);
            return;
        }
}

void AppIconPicker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateGeometry();
}

void AppIconPicker::choose(int index) {
    selected_ = tiles_.at(index).style;
    update();
    AppIconManager::apply(selected_);
}
