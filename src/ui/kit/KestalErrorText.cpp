#include "ui/kit/KestalErrorText.h"

#include "ui/kit/Kestal.h"

KestalErrorText::KestalErrorText(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setFont(Kestal::font(11));
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Kestal::red);
    setPalette(p);
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}
