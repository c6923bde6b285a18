// The shared dark look of every window: the palette and the type scale.
#pragma once

#include <QColor>
#include <QFont>

class QLabel;
class QString;
class QWidget;

class Kestal {
public:
    Kestal() = delete;

    // Palette (sRGB, opaque).
    static inline const QColor bg{10, 11, 13};        // windows, page area, widget capsule
    static inline const QColor surface{19, 21, 26};   // fields, cards, tiles, pressed secondary button
    static inline const QColor elev{24, 27, 33};      // raised fill (selected sidebar row)
    static inline const QColor border{30, 34, 42};    // 1 pt borders
    static inline const QColor text{242, 244, 247};   // primary text
    static inline const QColor dim{139, 146, 155};    // secondary text
    static inline const QColor faint{86, 93, 102};    // faintest text
    static inline const QColor blue{74, 158, 255};    // accent
    static inline const QColor gold{245, 197, 66};    // recording dot, success mark
    static inline const QColor red{248, 113, 113};    // error text
    // The desktop's dark-mode status colours: a warning or a pending state (the recording
    // widget's warning mark), success (granted, saved, installed, active), and failure or a
    // destructive action.
    static inline const QColor orange{255, 159, 10};
    static inline const QColor green{48, 209, 88};
    static inline const QColor alertRed{255, 69, 58};
    // The star of a favourite (the desktop's dark-mode yellow).
    static inline const QColor yellow{255, 214, 10};

    // The system font at `points` in the same units as the other dimensions (one point is one
    // device-independent pixel, whatever the screen's nominal DPI).
    static QFont font(double points, QFont::Weight weight = QFont::Normal);
    // The same in the system's monospaced family.
    static QFont monospacedFont(double points, QFont::Weight weight = QFont::Normal);

    // Text styles at the sizes the desktop uses for them.
    static QFont largeTitle() { return font(26); }
    static QFont title() { return font(22); }
    static QFont title2() { return font(17); }
    static QFont title3() { return font(15); }
    static QFont headline() { return font(13, QFont::Bold); }
    static QFont body() { return font(13); }
    static QFont callout() { return font(12); }
    static QFont subheadline() { return font(11); }
    static QFont footnote() { return font(10); }
    static QFont caption() { return font(10); }
    static QFont caption2() { return font(10); }

    // "#RRGGBB" or "rgba(r,g,b,a)" for style sheets.
    static QString css(const QColor& c);

    // A label showing `text` as plain text (never rich text) in a font and colour.
    static QLabel* plainLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent);
};
