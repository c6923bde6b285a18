#include "ui/kit/KestalPrimaryButtonStyle.h"

#include "ui/kit/Kestal.h"

#include <QAbstractButton>

void KestalPrimaryButtonStyle::apply(QAbstractButton* button) {
    QColor pressed = Kestal::blue;
    pressed.setAlphaF(0.85);
    button->setFont(Kestal::font(13, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString("QAbstractButton { color: %1; background: %2; border: none; border-radius: 8px;"
                                  " padding: 8px 14px; }"
                                  "QAbstractButton:pressed { background: %3; }"
                                  "QAbstractButton:disabled { background: %4; color: %5; }")
                              .arg(Kestal::css(Kestal::bg), Kestal::css(Kestal::blue), Kestal::css(pressed),
                                   Kestal::css(Kestal::elev), Kestal::css(Kestal::faint)));
}
