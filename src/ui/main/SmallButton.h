// The small outlined button of the Settings rows: an 11 pt medium label in the text colour, clear
// with a 1 pt border, the surface fill while pressed.
#pragma once

class QPushButton;
class QString;
class QWidget;

class SmallButton {
public:
    SmallButton() = delete;
    static QPushButton* create(const QString& title, QWidget* parent);
};
