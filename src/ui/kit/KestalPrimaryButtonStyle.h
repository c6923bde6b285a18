// The filled accent button: 13 pt semibold dark label on blue, 85 % opacity while pressed.
#pragma once

class QAbstractButton;

class KestalPrimaryButtonStyle {
public:
    KestalPrimaryButtonStyle() = delete;
    static void apply(QAbstractButton* button);
};
