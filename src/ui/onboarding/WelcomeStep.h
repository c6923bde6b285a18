// The first step: the product, what it does, and "Get Started".
#pragma once

#include "ui/onboarding/OnboardingStep.h"

#include <functional>

class QPushButton;

class WelcomeStep : public OnboardingStep {
    Q_OBJECT
public:
    explicit WelcomeStep(std::function<void()> next, QWidget* parent = nullptr);

private:
    std::function<void()> next_;
    QPushButton* start_;
};
