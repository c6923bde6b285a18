// The outlined button: 13 pt medium light label, clear with a 1 pt border, surface fill while pressed.
#pragma once

class QAbstractButton;
class QColor;

class KestalSecondaryButtonStyle {
public:
    KestalSecondaryButtonStyle() = delete;
    static void apply(QAbstractButton* button);
    // The same look at another size and text colour, for the smaller buttons of the pages.
    static void apply(QAbstractButton* button, double points, const QColor& textColor, int radius,
                      const char* padding);
};
