#include "ui/onboarding/OnboardingStep.h"

#include "ui/kit/Kestal.h"

#include <QLabel>
#include <QSizePolicy>

OnboardingStep::OnboardingStep(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kestal::bg);
    p.setColor(QPalette::WindowText, Kestal::text);
    setPalette(p);
}

void OnboardingStep::makeLarge(QWidget* button) {
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setMinimumHeight(36);
}

QLabel* OnboardingStep::textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}
