#include "ui/kit/AccountForm.h"

#include "cloud/BackendError.h"

#include <QTextBoundaryFinder>

QString AccountForm::trimmedEmail(const QString& email) {
    // Spaces of every kind (no-break ones included) and tabs; line breaks are left alone.
    auto blank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype start = 0;
    qsizetype end = email.size();
    while (start < end && blank(email[start])) ++start;
    while (end > start && blank(email[end - 1])) --end;
    return email.mid(start, end - start);
}

int AccountForm::perceivedLength(const QString& text) {
    if (text.isEmpty()) return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

std::optional<QString> AccountForm::validate(const QString& email, const QString& password, int shortestEmail) {
    const QString trimmed = trimmedEmail(email);
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
    }
    std::optional<QString> message;
    if (failure) message = failureMessage(failure, alreadyRegistered);
    co_return message;
}

QString AccountForm::failureMessage(std::exception_ptr error, const QString& alreadyRegistered) {
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
