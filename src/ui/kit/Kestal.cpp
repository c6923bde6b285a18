#include "ui/kit/Kestal.h"

#include <QFontDatabase>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>

namespace {

// Qt sizes fonts in typographic points (1/72 inch at the screen's logical DPI); the kit's sizes
// are in device-independent pixels, so convert.
double pointsToQtPoints(double points) {
    double dpi = 96.0;
    if (qGuiApp) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) dpi = screen->logicalDotsPerInchY();
    }
    if (dpi <= 0) dpi = 96.0;
    return points * 72.0 / dpi;
}

}  // namespace

QFont Kestal::font(double points, QFont::Weight weight) {
    QFont f = qGuiApp ? QFontDatabase::systemFont(QFontDatabase::GeneralFont) : QFont();
    f.setPointSizeF(pointsToQtPoints(points));
    f.setWeight(weight);
    return f;
}

QFont Kestal::monospacedFont(double points, QFont::Weight weight) {
    QFont f = qGuiApp ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(pointsToQtPoints(points));
    f.setWeight(weight);
    return f;
}

QString Kestal::css(const QColor& c) {
    if (c.alpha() == 255) return c.name(QColor::HexRgb);
    return QString("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QLabel* Kestal::plainLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}
