// The first-run window: welcome, account, permissions, offline model.
#pragma once

class OnboardingWindowController {
public:
    static OnboardingWindowController& shared();
    void show();

private:
    OnboardingWindowController();
};
