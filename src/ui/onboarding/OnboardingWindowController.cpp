#include "ui/onboarding/OnboardingWindowController.h"

#include "ui/kit/Kestal.h"
#include "ui/onboarding/OnboardingView.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

OnboardingWindowController& OnboardingWindowController::shared() {
    static OnboardingWindowController controller;
    return controller;
}

OnboardingWindowController::OnboardingWindowController() = default;

void OnboardingWindowController::show() {
    if (!window_) {
        // Titled and closable only: no resizing, no minimising, no maximising.
        auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                Qt::WindowCloseButtonHint);
        window->setObjectName("onboardingWindow");
        window->setWindowTitle("Welcome to Tovrin");
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->setAttribute(Qt::WA_QuitOnClose, false);
        window->setAutoFillBackground(true);
        QPalette p = window->palette();
        p.setColor(QPalette::Window, Kestal::bg);
        window->setPalette(p);

        auto* column = new QVBoxLayout(window);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        auto* view = new OnboardingView([this] { close(); }, window);
        column->addWidget(view, 0, Qt::AlignCenter);
        window->setFixedSize(OnboardingView::kSide, OnboardingView::kSide);

        if (const QScreen* screen = window->screen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        window_ = window;
        view_ = view;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void OnboardingWindowController::close() {
    if (window_) window_->close();
}

void OnboardingWindowController::resetForTesting() {
    if (window_) {
        window_->hide();
        delete window_.data();
    }
    window_ = nullptr;
    view_ = nullptr;
}
