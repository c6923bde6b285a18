// An error message under a form: 11 pt, red, wrapping.
#pragma once

#include <QLabel>

class KestalErrorText : public QLabel {
    Q_OBJECT
public:
    explicit KestalErrorText(const QString& text = {}, QWidget* parent = nullptr);
};
