#include "ui/kit/KestalSecondaryButtonStyle.h"

#include "ui/kit/Kestal.h"

#include <QAbstractButton>

void KestalSecondaryButtonStyle::apply(QAbstractButton* button) {
    apply(button, 13, Kestal::text, 8, "7px 13px");
}

void KestalSecondaryButtonStyle::apply(QAbstractButton* button, double points, const QColor& textColor, int radius,
                                       const char* padding) {
    button->setFont(Kestal::font(points, QFont::Medium));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString("QAbstractButton { color: %1; background: transparent; border: 1px solid %2;"
                                  " border-radius: %3px; padding: %4; }"
                                  "QAbstractButton:pressed { background: %5; }"
                                  "QAbstractButton:disabled { color: %6; }")
                              .arg(Kestal::css(textColor), Kestal::css(Kestal::border), QString::number(radius),
                                   QString::fromLatin1(padding), Kestal::css(Kestal::surface),
                                   Kestal::css(Kestal::faint)));
}
