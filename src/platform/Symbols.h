// The program's own pictograms, one SVG per symbol name in resources/symbols/ ("mic",
// "record.circle.fill", "hourglass", "checkmark.circle.fill", "exclamationmark.triangle.fill",
// "questionmark.app"). They are drawn in one colour and tinted where they are used.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class Symbols {
public:
    Symbols() = delete;

    // The symbol as an icon (a null icon when there is no such symbol).
    static QIcon icon(const QString& name);
    // The symbol as an icon drawn in `color` (menus and buttons on the dark look).
    static QIcon icon(const QString& name, const QColor& color);
    // The symbol rendered at `size` device-independent pixels in `color`; null when unknown.
    static QPixmap pixmap(const QString& name, double size, const QColor& color, double devicePixelRatio = 1.0);
    // Where the symbol's SVG lives ("" when it does not exist).
    static QString path(const QString& name);
};
