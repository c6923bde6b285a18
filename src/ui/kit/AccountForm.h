// What the two account forms (first-run window and Settings) share: how the typed address is
// trimmed, how lengths are counted, how the form is checked, how a sign-in request is awaited,
// and the messages for the account service's refusals.
#pragma once

#include "platform/Task.h"

#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <string>

class AccountForm {
public:
    AccountForm() = delete;

    // Length in user-perceived characters.
    static int perceivedLength(const QString& text);
    // The text shown for a failed sign-in or sign-up; `alreadyRegistered` is the form's own
    // wording for an address that is taken.
    static QString failureMessage(std::exception_ptr error, const QString& alreadyRegistered);

    // The form's first fault, nullopt when it may be sent: the trimmed address lacks an at-sign
    // or a dot, or has fewer than `shortestEmail` characters; then a password under 8 characters
    // (not trimmed).
    static std::optional<QString> validate(const QString& email, const QString& password, int shortestEmail = 0);

    // A log-in or sign-up call, given the e-mail and the password.
    using SignIn = std::function<platform::Task<void>(std::string email, std::string password)>;
    // Starts `signIn` and waits for it: nullopt when it succeeded, otherwise the text shown for
    // its failure (see failureMessage).
    static platform::Task<std::optional<QString>> attempt(SignIn signIn, std::string email, std::string password,
                                                          QString alreadyRegistered);
};
