// The onboarding permissions step: what it reads once a second on the main queue's clock, how
// the rows and the button follow, and what the "Enable" buttons ask for; where the desktop asks
// for the paste, that permission.
#include "platform/MicPermission.h"
#include "platform/Paths.h"
#include "platform/FakePastePermission.h"
#include "support/Child.h"
#include "support/TestEnvironment.h"
#include "ui/kit/Kestal.h"
#include "ui/onboarding/PermissionRow.h"
#include "ui/onboarding/PermissionsStep.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include <memory>

namespace {

struct FakeMic : platform::MicPermission {
    platform::MicAuthorization answer = platform::MicAuthorization::notDetermined;
    int requests = 0;
    bool grantOnRequest = false;
    platform::MicAuthorization status() override { return answer; }
    void requestAccess(std::function<void(bool)>) override {
        ++requests;
        if (grantOnRequest) answer = platform::MicAuthorization::authorized;
    }
};

class OnboardingPermissionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        platform::MicPermission::setShared(&mic);
        test::fakes().accessibility.trusted = false;
        step = std::make_unique<PermissionsStep>([this] { ++advances; });
    }
    void TearDown() override {
        step.reset();
        platform::MicPermission::setShared(nullptr);
        platform::Paths::setBundleOverride("");
    }
    static void advance(double s) { test::fakes().scheduler.advance(s); }
    static bool showsGranted(PermissionRow* row) {
        return row->granted() && test::child<QPushButton>(row, "enableButton")->isHidden() && !test::child<QLabel>(row, "grantedMark")->isHidden();
    }
    static bool showsEnable(PermissionRow* row) {
        return !row->granted() && !test::child<QPushButton>(row, "enableButton")->isHidden() && test::child<QLabel>(row, "grantedMark")->isHidden();
    }

    FakeMic mic;
    std::unique_ptr<PermissionsStep> step;
    int advances = 0;
};

TEST_F(OnboardingPermissionsTest, BothGrantedShowsTwoGrantedRowsAndContinueAtOnce) {
    mic.answer = platform::MicAuthorization::authorized;
    test::fakes().accessibility.trusted = true;
    step->appear();
    EXPECT_TRUE(showsGranted(test::child<PermissionRow>(step, "microphoneRow")));
    EXPECT_TRUE(showsGranted(test::child<PermissionRow>(step, "accessibilityRow")));
    EXPECT_EQ(test::child<PermissionRow>(step, "microphoneRow")->icon(), "mic.fill");
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Continue");
    EXPECT_EQ(step->continueTint(), Kestal::blue);
    EXPECT_EQ(test::fakes().accessibility.prompts, 0) << "reading the trust never prompts";
}

TEST_F(OnboardingPermissionsTest, TheStepFollowsBothPermissionsEverySecondInBothDirections) {
    step->appear();
    EXPECT_TRUE(showsEnable(test::child<PermissionRow>(step, "microphoneRow")));
    EXPECT_TRUE(showsEnable(test::child<PermissionRow>(step, "accessibilityRow")));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Skip for now");
    EXPECT_EQ(step->continueTint(), Kestal::dim);

    // Granted in the desktop's settings: the row turns within a second.
    mic.answer = platform::MicAuthorization::authorized;
    advance(0.9);
    EXPECT_FALSE(step->micOK());
    advance(0.1);
    EXPECT_TRUE(showsGranted(test::child<PermissionRow>(step, "microphoneRow")));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Skip for now") << "one of two is not enough";
    EXPECT_EQ(step->continueTint(), Kestal::dim);

    test::fakes().accessibility.trusted = true;
    advance(1);
    EXPECT_TRUE(showsGranted(test::child<PermissionRow>(step, "accessibilityRow")));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Continue");
    EXPECT_EQ(step->continueTint(), Kestal::blue);

    // Revoked again: back to "Enable".
    mic.answer = platform::MicAuthorization::denied;
    advance(1);
    EXPECT_TRUE(showsEnable(test::child<PermissionRow>(step, "microphoneRow")));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Skip for now");

    // Off screen nothing is read; back on screen it reads at once and polls again.
    step->disappear();
    const int checks = test::fakes().accessibility.checks;
    advance(10);
    EXPECT_EQ(test::fakes().accessibility.checks, checks);
    mic.answer = platform::MicAuthorization::authorized;
    step->appear();
    EXPECT_TRUE(step->micOK());
    advance(3);
    EXPECT_EQ(test::fakes().accessibility.checks, checks + 4);
    step->appear();  // appearing twice does not start a second poll
    advance(1);
    EXPECT_EQ(test::fakes().accessibility.checks, checks + 6);

    // A step torn down with a reading due leaves nothing behind.
    step.reset();
    advance(5);
    EXPECT_EQ(test::fakes().scheduler.pendingCount(), 0u);
}

TEST_F(OnboardingPermissionsTest, EnableAsksAndOpensTheSettingsWithoutWaiting) {
    step->appear();
    mic.grantOnRequest = true;
    test::child<QPushButton>(test::child<PermissionRow>(step, "microphoneRow"), "enableButton")->click();
    EXPECT_EQ(mic.requests, 1);
    ASSERT_EQ(test::fakes().workspace.opened.size(), 1u);
    EXPECT_EQ(test::fakes().workspace.opened[0],
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
    EXPECT_FALSE(step->micOK()) << "the next reading shows the answer";
    advance(1);
    EXPECT_TRUE(step->micOK());

    test::child<QPushButton>(test::child<PermissionRow>(step, "accessibilityRow"), "enableButton")->click();
    EXPECT_EQ(test::fakes().accessibility.prompts, 1);
    ASSERT_EQ(test::fakes().workspace.opened.size(), 2u);
    EXPECT_EQ(test::fakes().workspace.opened[1],
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    EXPECT_EQ(advances, 0);
}

TEST_F(OnboardingPermissionsTest, SkipGoesOnWithoutAskingAnything) {
    platform::MicPermission::setShared(nullptr);  // no sound server connection at all
    step->appear();
    EXPECT_FALSE(step->micOK());
    test::child<QPushButton>(step, "continueButton")->click();
    EXPECT_EQ(advances, 1);
    EXPECT_EQ(mic.requests, 0);
    EXPECT_EQ(test::fakes().accessibility.prompts, 0);
    EXPECT_TRUE(test::fakes().workspace.opened.empty());
}

TEST_F(OnboardingPermissionsTest, WhereTheDesktopAsksForThePasteTheRowIsThatPermission) {
    platform::FakePastePermission paste;
    platform::PastePermission::setShared(&paste);
    step = std::make_unique<PermissionsStep>([this] { ++advances; });
    mic.answer = platform::MicAuthorization::authorized;
    test::fakes().accessibility.trusted = true;  // says nothing of the desktop's dialog
    step->appear();
    auto* row = test::child<PermissionRow>(step, "accessibilityRow");
    EXPECT_TRUE(showsEnable(row));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Skip for now");
    // Said before the dialog opens: what it asks, and how often.
    EXPECT_TRUE(row->subtitle().contains("each start")) << row->subtitle().toStdString();

    test::child<QPushButton>(row, "enableButton")->click();
    EXPECT_EQ(paste.requests, 1);
    EXPECT_EQ(test::fakes().accessibility.prompts, 0);
    EXPECT_TRUE(test::fakes().workspace.opened.empty()) << "no settings link to open";

    paste.answer = platform::PastePermission::State::granted;
    paste.keepsGrant = true;
    advance(1);
    EXPECT_TRUE(showsGranted(row));
    EXPECT_TRUE(row->subtitle().contains("once"));
    EXPECT_EQ(test::child<QPushButton>(step, "continueButton")->text(), "Continue");

    step.reset();
    platform::PastePermission::setShared(nullptr);
}

}  // namespace
