// The outlined button: 13 pt medium light label, clear with a 1 pt border, surface fill while pressed.
#pragma once

class QAbstractButton;

class KestalSecondaryButtonStyle {
public:
    KestalSecondaryButtonStyle() = delete;
    static void apply(QAbstractButton* button);
};
