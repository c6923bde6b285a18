// The root of the onboarding window: holds the step number and shows exactly one step at a time
// (0 welcome, 1 account, 2 permissions, anything else the model step). Steps only go forward.
#pragma once

#include <QWidget>

#include <functional>

class OnboardingStep;
class QVBoxLayout;

class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSide = 560;

    // `finish` is what the last step calls when it is done (the window controller closes the window).
    explicit OnboardingView(std::function<void()> finish, QWidget* parent = nullptr);

    int step() const { return step_; }
    // The step now on screen.
    OnboardingStep* current() const { return current_; }

protected:
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void setStep(int step);
    // What the step `from` calls to go on: moves to `to`, unless the view has already left `from`
    // (a step that was passed over may still finish a request it had started).
    std::function<void()> advance(int from, int to);
    OnboardingStep* makeStep(int step);

    std::function<void()> finish_;
    int step_ = 0;
    bool onScreen_ = false;
    OnboardingStep* current_ = nullptr;
    QVBoxLayout* layout_;
};
