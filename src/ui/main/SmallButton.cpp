#include "ui/main/SmallButton.h"

#include "ui/kit/Kestal.h"

#include <QPushButton>

QPushButton* SmallButton::create(const QString& title, QWidget* parent) {
    auto* b = new QPushButton(title, parent);
    b->setFont(Kestal::font(11, QFont::Medium));
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QString("QPushButton { color: %1; background: transparent; border: 1px solid %2;"
                             " border-radius: 6px; padding: 3px 9px; }"
                             "QPushButton:pressed { background: %3; }")
                         .arg(Kestal::css(Kestal::text), Kestal::css(Kestal::border), Kestal::css(Kestal::surface)));
    return b;
}
