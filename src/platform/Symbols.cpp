#include "platform/Symbols.h"

#include "platform/Paths.h"

#include <QFileInfo>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace {

// Renders the tinted symbol (within its outline, when it has one) at whatever size the icon is
// asked for.
class TintedSymbolEngine : public QIconEngine {
public:
    TintedSymbolEngine(QString name, QColor color, QColor outline = {})
        : name_(std::move(name)), color_(color), outline_(outline) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QColor c = color_;
        QColor o = outline_;
        if (mode == QIcon::Disabled) {
            c.setAlphaF(c.alphaF() * 0.4);
            o.setAlphaF(o.alphaF() * 0.4);
        }
        const double dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int size = std::min(rect.width(), rect.height());
        const QPixmap pm = outline_.isValid() ? Symbols::outlinedPixmap(name_, size, c, o, dpr)
                                              : Symbols::pixmap(name_, size, c, dpr);
        painter->drawPixmap(rect.topLeft(), pm);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new TintedSymbolEngine(name_, color_, outline_); }

private:
    QString name_;
    QColor color_;
    QColor outline_;
};

}  // namespace

QString Symbols::path(const QString& name) {
    if (name.isEmpty() || name.contains('/')) return {};
    const QString p = QString::fromStdString(platform::Paths::resources()) + "/symbols/" + name + ".svg";
    return QFileInfo::exists(p) ? p : QString();
}

QIcon Symbols::icon(const QString& name) {
    const QString p = path(name);
    return p.isEmpty() ? QIcon() : QIcon(p);
}

QIcon Symbols::icon(const QString& name, const QColor& color) {
    if (path(name).isEmpty()) return QIcon();
    return QIcon(new TintedSymbolEngine(name, color));
}

QPixmap Symbols::pixmap(const QString& name, double size, const QColor& color, double devicePixelRatio) {
    const QString p = path(name);
    if (p.isEmpty() || size <= 0) return {};
    QSvgRenderer renderer(p);
    if (!renderer.isValid()) return {};
    const int px = std::max(1, static_cast<int>(std::ceil(size * devicePixelRatio)));
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    {
        QPainter painter(&pm);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, px, px));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRect(0, 0, px, px), color);
    }
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

QPixmap Symbols::outlinedPixmap(const QString& name, double size, const QColor& color, const QColor& outline,
                                double devicePixelRatio) {
    const int px = std::max(1, static_cast<int>(std::ceil(size * devicePixelRatio)));
    const int width = std::max(1, static_cast<int>(std::lround(px / 16.0)));
    // The glyph shrinks by the outline's width on each side, so the outline stays inside.
    const QPixmap stroke = pixmap(name, px - 2 * width, outline);
    const QPixmap fill = pixmap(name, px - 2 * width, color);
    if (stroke.isNull() || fill.isNull()) return {};
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    {
        QPainter painter(&pm);
        // The outline: the glyph in the outline colour, moved to every point of a disc.
        for (int dy = -width; dy <= width; ++dy)
            for (int dx = -width; dx <= width; ++dx)
                if (dx * dx + dy * dy <= width * width + width) painter.drawPixmap(width + dx, width + dy, stroke);
        painter.drawPixmap(width, width, fill);
    }
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

QIcon Symbols::outlinedIcon(const QString& name, const QColor& color, const QColor& outline) {
    if (path(name).isEmpty()) return QIcon();
    return QIcon(new TintedSymbolEngine(name, color, outline));
}
