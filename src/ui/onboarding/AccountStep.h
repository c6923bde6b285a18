// The account step: create an account on the account service or log in to an existing one.
// The form is checked here first; the service's refusals become short messages under it.
// A user who is already signed in passes over the step as soon as it comes on screen.
#pragma once

#include "ui/onboarding/OnboardingStep.h"

#include "platform/Task.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>

class ActivitySpinner;
class BackendClient;
class KestalErrorText;
class KestalField;
class QPushButton;

class AccountStep : public OnboardingStep {
    Q_OBJECT
public:
    AccountStep(std::function<void()> next, BackendClient& backend, QWidget* parent = nullptr);
    explicit AccountStep(std::function<void()> next, QWidget* parent = nullptr);

    void appear() override;

    // Checks the form and, when it passes, starts a sign-up (`signup`) or a log-in with the
    // e-mail trimmed of spaces and tabs. Does nothing while a sign-in request is running.
    void submit(bool signup);

    // The message under the fields, nullopt while none is shown.
    const std::optional<QString>& errorText() const { return errorText_; }

    // The e-mail without the spaces and tabs around it (line breaks stay).
    static QString trimmedEmail(const QString& email);
    // The form's first fault, nullopt when it may be sent.
    static std::optional<QString> validate(const QString& email, const QString& password);
    // The text shown for a failed sign-up or log-in.
    static QString failureMessage(std::exception_ptr error);
    // Characters as the user sees them (a letter with its accents, an emoji sequence: one each).
    static int perceivedLength(const QString& text);

private:
    platform::Task<> send(bool signup, std::string email, std::string password);
    void setErrorText(std::optional<QString> text);
    void syncToBackend();

    std::function<void()> next_;
    BackendClient& backend_;
    std::optional<QString> errorText_;

    KestalField* email_;
    KestalField* password_;
    KestalErrorText* errorLabel_;
    QPushButton* create_;
    QPushButton* login_;
    ActivitySpinner* spinner_;
};
