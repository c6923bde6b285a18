// What the two account forms (first-run window and Settings) share: how the typed address is
// trimmed, how lengths are counted, and the messages for the account service's refusals.
#pragma once

#include <QString>

#include <exception>

class AccountForm {
public:
    AccountForm() = delete;

    // The address without leading and trailing spaces (of any kind) and tabs; line breaks stay.
    static QString trimmedEmail(const QString& email);
    // Length in user-perceived characters.
    static int perceivedLength(const QString& text);
    // The text shown for a failed sign-in or sign-up; `alreadyRegistered` is the form's own
    // wording for an address that is taken.
    static QString failureMessage(std::exception_ptr error, const QString& alreadyRegistered);
};
