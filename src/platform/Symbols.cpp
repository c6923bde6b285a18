#include "platform/Symbols.h"

#include "platform/Paths.h"

#include <QFileInfo>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace {

// Renders the tinted symbol at whatever size the icon is asked for.
class TintedSymbolEngine : public QIconEngine {
public:
    TintedSymbolEngine(QString name, QColor color) : name_(std::move(name)), color_(color) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QColor c = color_;
        if (mode == QIcon::Disabled) c.setAlphaF(c.alphaF() * 0.4);
        const double dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap pm = Symbols::pixmap(name_, std::min(rect.width(), rect.height()), c, dpr);
        painter->drawPixmap(rect.topLeft(), pm);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new TintedSymbolEngine(name_, color_); }

private:
    QString name_;
    QColor color_;
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
