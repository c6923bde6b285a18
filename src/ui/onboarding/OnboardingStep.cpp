#include "ui/onboarding/OnboardingStep.h"

#include "ui/kit/Kestal.h"

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
