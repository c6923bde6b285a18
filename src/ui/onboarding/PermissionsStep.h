// The permissions step: microphone access and the trust for global keys and synthetic input.
// While on screen it reads both once a second, so a permission granted (or revoked) in the
// desktop's settings shows up without any action in the window. Where the desktop asks the user
// before we may send the paste chord (GNOME on Wayland), the second row is that permission: it
// says what the desktop's dialog will ask before it opens, and "Enable" opens it.
#pragma once

#include "ui/onboarding/OnboardingStep.h"

#include "platform/Scheduler.h"

#include <QColor>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class PermissionRow;
class QPushButton;

class PermissionsStep : public OnboardingStep {
    Q_OBJECT
public:
    static constexpr double kPollSeconds = 1.0;
    static constexpr const char* kMicrophoneSettings =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";
    static constexpr const char* kAccessibilitySettings =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    explicit PermissionsStep(std::function<void()> next, QWidget* parent = nullptr);
    ~PermissionsStep() override;

    void appear() override;
    void disappear() override;

    // Reads both permissions and updates the rows and the button.
    void refresh();
    // Asks for microphone access and opens the microphone privacy settings at once.
    void enableMicrophone();
    // Asks for trust (with the prompt) and opens the Accessibility privacy settings; where the
    // desktop asks for the paste permission, asks for that instead.
    void enableAccessibility();
    // Opens a settings link; a link that does not parse does nothing.
    static void open(const std::string& url);

    bool micOK() const { return micOK_; }
    bool axOK() const { return axOK_; }
    bool isPolling() const { return poll_.isValid() && !poll_.isCancelled(); }

    // The colour the button is filled with now: the accent once both are granted, else gray.
    QColor continueTint() const;

private:
    void schedulePoll();
    void updateButton();
    // The paste permission's row text for what the desktop will do when asked.
    static QString pastePermissionSubtitle();

    std::function<void()> next_;
    bool pastePermission_ = false;  // the second row is the desktop's paste permission
    bool micOK_ = false;
    bool axOK_ = false;
    std::optional<bool> styledBoth_;  // the look the button was last given
    platform::TimerHandle poll_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    PermissionRow* micRow_;
    PermissionRow* axRow_;
    QPushButton* continue_;
};
