#include "ui/onboarding/OnboardingView.h"

#include "ui/kit/Kestal.h"
#include "ui/onboarding/AccountStep.h"
#include "ui/onboarding/ModelStep.h"
#include "ui/onboarding/PermissionsStep.h"
#include "ui/onboarding/WelcomeStep.h"

#include <QPointer>
#include <QVBoxLayout>

OnboardingView::OnboardingView(std::function<void()> finish, QWidget* parent)
    : QWidget(parent), finish_(std::move(finish)) {
    setObjectName("onboardingView");
    setFixedSize(kSide, kSide);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kestal::bg);
    p.setColor(QPalette::WindowText, Kestal::text);
    // Controls that take the accent use the kit's blue.
    p.setColor(QPalette::Highlight, Kestal::blue);
    setPalette(p);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    current_ = makeStep(step_);
    layout_->addWidget(current_);
}

OnboardingStep* OnboardingView::makeStep(int step) {
    switch (step) {
    case 0: return new WelcomeStep(advance(0, 1), this);
    case 1: return new AccountStep(advance(1, 2), this);
    case 2: return new PermissionsStep(advance(2, 3), this);
    default: break;
    }
    QPointer<OnboardingView> self(this);
    return new ModelStep(
        [self] {
            if (self && self->finish_) self->finish_();
        },
        this);
}

std::function<void()> OnboardingView::advance(int from, int to) {
    QPointer<OnboardingView> self(this);
    return [self, from, to] {
        if (self && self->step_ == from) self->setStep(to);
    };
}

void OnboardingView::setStep(int step) {
    OnboardingStep* old = current_;
    step_ = step;
    current_ = makeStep(step);
    if (old) {
        if (onScreen_) old->disappear();
        layout_->removeWidget(old);
        old->hide();
        // The old step may be the caller (its button or its finished request), so it goes later.
        old->deleteLater();
    }
    layout_->addWidget(current_);
    current_->show();
    // The new step comes on screen at once; it may pass itself over in turn.
    if (onScreen_) current_->appear();
}

void OnboardingView::showEvent(QShowEvent*) {
    if (onScreen_) return;
    onScreen_ = true;
    current_->appear();
}

void OnboardingView::hideEvent(QHideEvent*) {
    if (!onScreen_) return;
    onScreen_ = false;
    current_->disappear();
}
