// The "Account" group of the settings: log in or create an account on the account service, or,
// once signed in, the account's e-mail, plan and credits with checkout, refresh and log-out.
// The two forms swap as the client's user comes and goes.
#pragma once

#include "ui/main/FormSection.h"

#include "platform/Task.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>

class ActivitySpinner;
class BackendClient;
class KestalErrorText;
class KestalField;
class QLabel;
class QPushButton;

class AccountSection : public FormSection {
    Q_OBJECT
public:
    // A log-in or sign-up call, given the e-mail and the password.
    using Action = std::function<platform::Task<void>(std::string email, std::string password)>;

    explicit AccountSection(QWidget* parent = nullptr);
    explicit AccountSection(BackendClient& backend, QWidget* parent = nullptr);

    // Checks the form; when it passes, runs `action` with the trimmed e-mail and the password.
    void authenticate(Action action);
    // Opens the checkout of `plan` in the browser and watches the account for the purchase.
    void checkout(const std::string& plan);

    const std::optional<QString>& errorText() const { return errorText_; }
    bool checkingOut() const { return checkouts_ > 0; }

    // The e-mail without the spaces and tabs at its ends (line breaks stay).
    static QString trimmedEmail(const QString& email);
    // The form's first fault, nullopt when it may be sent.
    static std::optional<QString> validate(const QString& email, const QString& password);
    // The text shown for a failed log-in or sign-up.
    static QString failureMessage(std::exception_ptr error);
    // "free" → "Free", "pro team" → "Pro Team".
    static QString capitalized(const QString& text);

    // The message label of the form on screen.
    KestalErrorText* errorLabel() const;

private:
    platform::Task<void> run(Action action, std::string email, std::string password);
    platform::Task<void> runCheckout(std::string plan);
    void setErrorText(std::optional<QString> text);
    void sync();

    BackendClient& backend_;
    std::optional<QString> errorText_;
    int checkouts_ = 0;

    QWidget* signedOut_;
    KestalField* email_;
    KestalField* password_;
    QPushButton* login_;
    QPushButton* create_;
    ActivitySpinner* busySpinner_;
    KestalErrorText* signedOutError_;

    QWidget* signedIn_;
    QLabel* emailValue_;
    QLabel* planValue_;
    QLabel* creditsValue_;
    QWidget* upgradeBox_;
    QPushButton* upgradePro_;
    QPushButton* upgradeTeam_;
    ActivitySpinner* checkoutSpinner_;
    QPushButton* buyCredits_;
    QPushButton* refresh_;
    QPushButton* logout_;
    KestalErrorText* signedInError_;
};
