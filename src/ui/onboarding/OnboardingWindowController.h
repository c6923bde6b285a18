// The first-run window: welcome, account, permissions, offline model. Built at the first show and
// kept for the rest of the process; closing it only hides it, so the next show brings back the
// same window at the step it had reached.
#pragma once

#include "ui/onboarding/OnboardingView.h"

#include <QPointer>
#include <QWidget>

class OnboardingWindowController {
public:
    static OnboardingWindowController& shared();

    // Builds the window the first time, then brings it to the front and gives it the focus.
    void show();
    // Closes (hides) the window when there is one.
    void close();

    // Nullptr until the first show.
    QWidget* window() const { return window_; }

    // Throws the window away, so the next show starts again from the first step (tests only).
    void resetForTesting();

private:
    OnboardingWindowController();

    QPointer<QWidget> window_;
    QPointer<OnboardingView> view_;
};
