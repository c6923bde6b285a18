// The onboarding window: one window for the whole run, the steps in their order, the last step
// closing it, and a closed window coming back at the step it had reached.
#include "cloud/BackendClient.h"
#include "platform/MicPermission.h"
#include "platform/Paths.h"
#include "support/Child.h"
#include "support/FakeAccountService.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"
#include "ui/kit/KestalField.h"
#include "ui/onboarding/AccountStep.h"
#include "ui/onboarding/ModelStep.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/onboarding/PermissionsStep.h"
#include "ui/onboarding/WelcomeStep.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>

#include <memory>

namespace {

struct GrantedMic : platform::MicPermission {
    platform::MicAuthorization status() override { return platform::MicAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> done) override { done(true); }
};

class OnboardingWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        platform::MicPermission::setShared(&mic);
        test::fakes().defaults.setString("backendURL", service->baseURL());
        controller().resetForTesting();
    }
    void TearDown() override {
        controller().resetForTesting();
        if (BackendClient::shared().isLoggedIn()) test::await(BackendClient::shared().logout());
        platform::MicPermission::setShared(nullptr);
        platform::Paths::setBundleOverride("");
    }

    static OnboardingWindowController& controller() { return OnboardingWindowController::shared(); }
    static OnboardingView& view() { return *test::child<OnboardingView>(controller().window(), "onboardingView"); }
    template <typename Step>
    static Step* current() {
        return qobject_cast<Step*>(view().current());
    }
    static int topLevelWindows() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "onboardingWindow") ++n;
        return n;
    }

    // One service for the whole suite: the shared client keeps its connection to it open, and
    // a service stopped under an open connection takes seconds to wind down.
    static void SetUpTestSuite() { service = new test::FakeAccountService; }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }

    GrantedMic mic;
    static inline test::FakeAccountService* service = nullptr;
};

TEST_F(OnboardingWindowTest, WindowIsBuiltAtTheFirstShowAndOnlyOnce) {
    EXPECT_EQ(controller().window(), nullptr);
    controller().show();
    QWidget* window = controller().window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Welcome to Tovrin");
    EXPECT_EQ(window->size(), QSize(560, 560));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window cannot be resized";
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(view().step(), 0);
    EXPECT_NE(current<WelcomeStep>(), nullptr);

    controller().show();
    EXPECT_EQ(controller().window(), window);
    EXPECT_EQ(topLevelWindows(), 1);
    EXPECT_EQ(view().step(), 0);
}

TEST_F(OnboardingWindowTest, StepsGoForwardInOrderAndTheLastOneClosesTheWindow) {
    service->addAccount("ann@example.com", "correct horse");
    controller().show();
    test::child<QPushButton>(current<WelcomeStep>(), "startButton")->click();
    ASSERT_EQ(view().step(), 1);
    AccountStep* account = current<AccountStep>();
    ASSERT_NE(account, nullptr);

    test::child<KestalField>(account, "emailField")->setText("ann@example.com");
    test::child<KestalField>(account, "passwordField")->setText("correct horse");
    test::child<QPushButton>(account, "loginButton")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return view().step() == 2; }));
    ASSERT_NE(current<PermissionsStep>(), nullptr);

    test::child<QPushButton>(current<PermissionsStep>(), "continueButton")->click();
    ASSERT_EQ(view().step(), 3);
    ModelStep* model = current<ModelStep>();
    ASSERT_NE(model, nullptr);

    test::child<QPushButton>(model, "skipButton")->click();
    EXPECT_FALSE(controller().window()->isVisible());
    EXPECT_EQ(view().step(), 3);

    // The same window comes back on the model step.
    QWidget* window = controller().window();
    controller().show();
    EXPECT_EQ(controller().window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(view().step(), 3);
    EXPECT_EQ(current<ModelStep>(), model);
}

TEST_F(OnboardingWindowTest, ClosedDuringThePermissionsStepItReopensThere) {
    test::await(BackendClient::shared().signup("bo@example.com", "long enough"));
    controller().show();
    test::child<QPushButton>(current<WelcomeStep>(), "startButton")->click();
    // Signed in: the account step passes itself over.
    ASSERT_EQ(view().step(), 2);
    PermissionsStep* permissions = current<PermissionsStep>();
    ASSERT_NE(permissions, nullptr);
    EXPECT_TRUE(permissions->isPolling());

    controller().window()->close();
    EXPECT_FALSE(controller().window()->isVisible());
    EXPECT_FALSE(permissions->isPolling()) << "no polling while the window is closed";

    controller().show();
    EXPECT_EQ(view().step(), 2);
    EXPECT_EQ(current<PermissionsStep>(), permissions);
    EXPECT_TRUE(permissions->isPolling());
}

TEST_F(OnboardingWindowTest, AStepThatWasPassedOverCannotMoveTheWindowBack) {
    service->addAccount("cy@example.com", "correct horse");
    service->setDelay("auth/signup", 400);
    const int signupsBefore = service->count("auth/signup");
    controller().show();
    test::child<QPushButton>(current<WelcomeStep>(), "startButton")->click();
    AccountStep* account = current<AccountStep>();
    ASSERT_NE(account, nullptr);
    test::child<KestalField>(account, "emailField")->setText("new@example.com");
    test::child<KestalField>(account, "passwordField")->setText("long enough");
    test::child<QPushButton>(account, "createButton")->click();
    ASSERT_EQ(service->count("auth/signup"), signupsBefore) << "still held by the service";

    // Meanwhile the user signs in elsewhere, reopens the window and goes on to the model step.
    test::await(BackendClient::shared().login("cy@example.com", "correct horse"));
    controller().window()->close();
    controller().show();
    ASSERT_EQ(view().step(), 2);
    test::child<QPushButton>(current<PermissionsStep>(), "continueButton")->click();
    ASSERT_EQ(view().step(), 3);

    // The sign-up started by the account step ends now; the window stays where it is.
    ASSERT_TRUE(test::pumpUntil([&] { return service->count("auth/signup") == signupsBefore + 1 && !BackendClient::shared().busy(); }));
    test::pumpFor(0.05);
    EXPECT_EQ(view().step(), 3);
    EXPECT_NE(current<ModelStep>(), nullptr);
}

}  // namespace
