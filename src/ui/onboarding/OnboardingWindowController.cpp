#include "ui/onboarding/OnboardingWindowController.h"

OnboardingWindowController& OnboardingWindowController::shared() {
    static OnboardingWindowController controller;
    return controller;
}

OnboardingWindowController::OnboardingWindowController() = default;

void OnboardingWindowController::show() {}
