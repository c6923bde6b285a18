#include "ui/onboarding/AccountStep.h"

#include "ui/kit/AccountForm.h"

#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalField.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "ui/kit/ActivitySpinner.h"
#include "platform/TextTools.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* kCreateLabel = "Create Account \u2014 start free trial";
// Addresses of five characters or fewer are refused here.
constexpr int kShortestEmail = 6;
const QString kAlreadyRegistered = QString::fromUtf8("This email is already registered \u2014 use Log In below.");

}  // namespace

AccountStep::AccountStep(std::function<void()> next, QWidget* parent)
    : AccountStep(std::move(next), BackendClient::shared(), parent) {}

AccountStep::AccountStep(std::function<void()> next, BackendClient& backend, QWidget* parent)
    : OnboardingStep(parent), next_(std::move(next)), backend_(backend) {
    setObjectName("accountStep");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 36, 40, 30);
    column->setSpacing(18);

    column->addLayout(heading("Create your account",
                              "Unlocks the free trial: 3000 credits for AI enhancement and cloud transcription. "
                              "Takes ten seconds \u2014 no card, no emails."));

    email_ = new KestalField("Email", false, "you@example.com", KestalField::ContentType::emailAddress, this);
    email_->setObjectName("emailField");
    column->addWidget(email_);
    password_ = new KestalField("Password", true, "8+ characters", KestalField::ContentType::password, this);
    password_->setObjectName("passwordField");
    column->addWidget(password_);

    errorLabel_ = new KestalErrorText({}, this);
    errorLabel_->setObjectName("errorLabel");
    errorLabel_->hide();
    column->addWidget(errorLabel_);

    column->addStretch(1);

    create_ = new QPushButton(kCreateLabel, this);
    create_->setObjectName("createButton");
    KestalPrimaryButtonStyle::apply(create_);
    makeLarge(create_);
    auto* spinnerRow = new QHBoxLayout(create_);
    spinnerRow->setContentsMargins(0, 0, 0, 0);
    spinner_ = new ActivitySpinner(Kestal::dim, 16, create_);  // on the disabled button
    spinner_->hide();
    spinner_->setObjectName("spinner");
    spinnerRow->addWidget(spinner_, 0, Qt::AlignCenter);
    column->addWidget(create_);

    login_ = new QPushButton("I already have an account \u2014 Log In", this);
    login_->setObjectName("loginButton");
    KestalSecondaryButtonStyle::apply(login_);
    makeLarge(login_);
    column->addWidget(login_);

    connect(create_, &QPushButton::clicked, this, [this] { submit(true); });
    connect(login_, &QPushButton::clicked, this, [this] { submit(false); });

    connect(&backend_, &BackendClient::changed, this, [this] { syncToBackend(); });
    syncToBackend();
}

void AccountStep::appear() {
    if (backend_.isLoggedIn() && next_) next_();
}

QString AccountStep::trimmedEmail(const QString& email) { return platform::TextTools::trimmedSpacesAndTabs(email); }

int AccountStep::perceivedLength(const QString& text) { return AccountForm::perceivedLength(text); }

std::optional<QString> AccountStep::validate(const QString& email, const QString& password) {
    return AccountForm::validate(email, password, kShortestEmail);
}

QString AccountStep::failureMessage(std::exception_ptr error) {
    return AccountForm::failureMessage(error, kAlreadyRegistered);
}

void AccountStep::submit(bool signup) {
    if (backend_.busy()) return;
    if (auto fault = validate(email_->text(), password_->text())) {
        setErrorText(fault);
        return;
    }
    setErrorText(std::nullopt);
    send(signup, trimmedEmail(email_->text()).toStdString(), password_->text().toStdString());
}

platform::Task<> AccountStep::send(bool signup, std::string email, std::string password) {
    QPointer<AccountStep> self(this);
    BackendClient* backend = &backend_;
    AccountForm::SignIn signIn = [backend, signup](std::string e, std::string p) {
        return signup ? backend->signup(std::move(e), std::move(p)) : backend->login(std::move(e), std::move(p));
    };
    platform::Task<std::optional<QString>> attempt =
        AccountForm::attempt(std::move(signIn), std::move(email), std::move(password), kAlreadyRegistered);
    const std::optional<QString> failure = co_await std::move(attempt);
    // The step may have been passed over or torn down while the request ran.
    if (!self) co_return;
    if (failure) {
        self->setErrorText(*failure);
        co_return;
    }
    if (self->next_) self->next_();
}

void AccountStep::setErrorText(std::optional<QString> text) {
    errorText_ = std::move(text);
    errorLabel_->setText(errorText_.value_or(QString()));
    errorLabel_->setVisible(errorText_.has_value());
}

void AccountStep::syncToBackend() {
    const bool busy = backend_.busy();
    create_->setEnabled(!busy);
    login_->setEnabled(!busy);
    create_->setText(busy ? QString() : QString(kCreateLabel));
    spinner_->setVisible(busy);
}
