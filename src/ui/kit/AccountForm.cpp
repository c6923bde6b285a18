#include "ui/kit/AccountForm.h"

#include "state/FailureText.h"
#include "cloud/BackendError.h"
#include "platform/Log.h"
#include "platform/TextTools.h"

#include <QTextBoundaryFinder>

int AccountForm::perceivedLength(const QString& text) {
    if (text.isEmpty()) return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

std::optional<QString> AccountForm::validate(const QString& email, const QString& password, int shortestEmail) {
    const QString trimmed = platform::TextTools::trimmedSpacesAndTabs(email);
    if (!trimmed.contains('@') || !trimmed.contains('.') || perceivedLength(trimmed) < shortestEmail)
        return QStringLiteral("Enter a valid email address.");
    if (perceivedLength(password) < 8) return QStringLiteral("Password needs at least 8 characters.");
    return std::nullopt;
}

platform::Task<std::optional<QString>> AccountForm::attempt(SignIn signIn, std::string email, std::string password,
                                                            QString alreadyRegistered) {
    std::exception_ptr failure;
    try {
        platform::Task<void> request = signIn(std::move(email), std::move(password));
        co_await std::move(request);
    } catch (...) {
        failure = std::current_exception();
        // The account client logged what the service answered.
        qCDebug(logUi, "the sign-in form's request failed: %s", FailureText::forLog(failure).c_str());
    }
    std::optional<QString> message;
    if (failure) message = failureMessage(failure, alreadyRegistered);
    co_return message;
}

QString AccountForm::failureMessage(std::exception_ptr error, const QString& alreadyRegistered) {
    // Only the words shown: the failure was logged where it was caught.
    try {
        std::rethrow_exception(error);
    } catch (const BackendError& e) {
        if (e.code() == "EMAIL_ALREADY_EXISTS") return alreadyRegistered;
        if (e.code() == "INVALID_CREDENTIALS") return QStringLiteral("Wrong email or password.");
        if (e.code() == "network") return QString::fromUtf8("No connection \u2014 check the internet and try again.");
        return QString::fromStdString(e.message());
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    } catch (...) {
        return QStringLiteral("Something went wrong.");
    }
}
