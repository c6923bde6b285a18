#include "ui/kit/KestalSecondaryButtonStyle.h"

#include "ui/kit/Kestal.h"

#include <QAbstractButton>

void KestalSecondaryButtonStyle::apply(QAbstractButton* button) {
    button->setFont(Kestal::font(13, QFont::Medium));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString("QAbstractButton { color: %1; background: transparent; border: 1px solid %2;"
                                  " border-radius: 8px; padding: 7px 13px; }"
                                  "QAbstractButton:pressed { background: %3; }"
                                  "QAbstractButton:disabled { color: %4; }")
                              .arg(Kestal::css(Kestal::text), Kestal::css(Kestal::border),
                                   Kestal::css(Kestal::surface), Kestal::css(Kestal::faint)));
}
