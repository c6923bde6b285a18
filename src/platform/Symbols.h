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
    // The same in `color` within an `outline` about a sixteenth of its size thick, so that it
    // reads on a light ground as on a dark one (the tray, whose panel colour is unknown).
    static QPixmap outlinedPixmap(const QString& name, double size, const QColor& color, const QColor& outline,
                                  double devicePixelRatio = 1.0);
    static QIcon outlinedIcon(const QString& name, const QColor& color, const QColor& outline);
    // Where the symbol's SVG lives ("" when it does not exist).
    static QString path(const QString& name);
};
