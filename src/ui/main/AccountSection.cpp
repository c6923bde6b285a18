#include "ui/main/AccountSection.h"

#include "ui/kit/AccountForm.h"

#include "state/FailureText.h"
#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalField.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "ui/kit/ActivitySpinner.h"
#include "platform/Log.h"
#include "platform/TextTools.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kAlreadyRegistered = QString::fromUtf8("This email is already registered \u2014 use Log In.");

QPushButton* smallButton(const QString& title, QWidget* parent, const QColor& color = Kestal::text) {
    auto* b = new QPushButton(title, parent);
    KestalSecondaryButtonStyle::apply(b, 12, color, 6, "4px 10px");
    return b;
}

// Only the words shown: the failure was logged where it was caught.
QString describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    } catch (...) {
        return QStringLiteral("Something went wrong.");
    }
}

}  // namespace

AccountSection::AccountSection(QWidget* parent) : AccountSection(BackendClient::shared(), parent) {}

AccountSection::AccountSection(BackendClient& backend, QWidget* parent)
    : FormSection("Account", parent), backend_(backend) {
    setObjectName("accountSection");

    // --- signed out ---
    signedOut_ = new QWidget(card());
    signedOut_->setObjectName("signedOutForm");
    auto* out = new QVBoxLayout(signedOut_);
    out->setContentsMargins(0, 0, 0, 0);
    out->setSpacing(10);
    email_ = new KestalField("Email", false, "Email", KestalField::ContentType::emailAddress, signedOut_);
    email_->setObjectName("emailField");
    out->addWidget(email_);
    password_ = new KestalField("Password", true, "8+ characters", KestalField::ContentType::password, signedOut_);
    password_->setObjectName("passwordField");
    out->addWidget(password_);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    login_ = new QPushButton("Log In", signedOut_);
    login_->setObjectName("loginButton");
    KestalPrimaryButtonStyle::apply(login_);
    buttons->addWidget(login_, 0, Qt::AlignVCenter);
    create_ = new QPushButton("Create Account", signedOut_);
    create_->setObjectName("createButton");
    KestalSecondaryButtonStyle::apply(create_);
    buttons->addWidget(create_, 0, Qt::AlignVCenter);
    busySpinner_ = new ActivitySpinner(Kestal::dim, 14, signedOut_);
    busySpinner_->setObjectName("busySpinner");
    busySpinner_->hide();
    buttons->addWidget(busySpinner_, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    out->addLayout(buttons);
    signedOutError_ = new KestalErrorText({}, signedOut_);
    signedOutError_->hide();
    out->addWidget(signedOutError_);
    out->addWidget(caption(QString::fromUtf8("Optional \u2014 Local Whisper works without an account. Cloud adds "
                                             "cross-device sync, cloud STT and AI enhancement."),
                           signedOut_));
    addRow(signedOut_);

    // --- signed in ---
    signedIn_ = new QWidget(card());
    signedIn_->setObjectName("signedInForm");
    auto* in = new QVBoxLayout(signedIn_);
    in->setContentsMargins(0, 0, 0, 0);
    in->setSpacing(10);
    auto valueRow = [this](const QString& title, QLabel*& value, const char* name) {
        value = text({}, Kestal::body(), Kestal::dim, nullptr);
        value->setObjectName(name);
        value->setWordWrap(false);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return labelledRow(title, value, signedIn_);
    };
    in->addWidget(valueRow("Email", emailValue_, "accountEmail"));
    in->addWidget(valueRow("Plan", planValue_, "accountPlan"));
    in->addWidget(valueRow("Credits", creditsValue_, "accountCredits"));

    upgradeBox_ = new QWidget(signedIn_);
    upgradeBox_->setObjectName("upgradeBox");
    auto* upgrade = new QVBoxLayout(upgradeBox_);
    upgrade->setContentsMargins(0, 0, 0, 0);
    upgrade->setSpacing(6);
    auto* upgradeRow = new QHBoxLayout;
    upgradeRow->setSpacing(8);
    upgradePro_ = smallButton("Upgrade to Pro", upgradeBox_);
    upgradePro_->setObjectName("upgradeProButton");
    upgradeRow->addWidget(upgradePro_);
    upgradeTeam_ = smallButton("Upgrade to Team", upgradeBox_);
    upgradeTeam_->setObjectName("upgradeTeamButton");
    upgradeRow->addWidget(upgradeTeam_);
    checkoutSpinner_ = new ActivitySpinner(Kestal::dim, 14, upgradeBox_);
    checkoutSpinner_->setObjectName("checkoutSpinner");
    checkoutSpinner_->hide();
    upgradeRow->addWidget(checkoutSpinner_, 0, Qt::AlignVCenter);
    upgradeRow->addStretch(1);
    upgrade->addLayout(upgradeRow);
    upgrade->addWidget(caption("Opens secure Stripe checkout in your browser. Credits appear here automatically "
                               "after payment.",
                               upgradeBox_));
    in->addWidget(upgradeBox_);

    buyCredits_ = smallButton("Buy more credits", signedIn_);
    buyCredits_->setObjectName("buyCreditsButton");
    in->addWidget(buyCredits_, 0, Qt::AlignLeft);

    auto* session = new QHBoxLayout;
    session->setSpacing(8);
    refresh_ = smallButton("Refresh", signedIn_);
    refresh_->setObjectName("refreshAccount");
    session->addWidget(refresh_);
    logout_ = smallButton("Log Out", signedIn_, Kestal::alertRed);
    logout_->setObjectName("logoutButton");
    session->addWidget(logout_);
    session->addStretch(1);
    in->addLayout(session);
    signedInError_ = new KestalErrorText({}, signedIn_);
    signedInError_->hide();
    in->addWidget(signedInError_);
    addRow(signedIn_);

    connect(login_, &QPushButton::clicked, this, [this] {
        authenticate([this](std::string e, std::string p) { return backend_.login(std::move(e), std::move(p)); });
    });
    connect(create_, &QPushButton::clicked, this, [this] {
        authenticate([this](std::string e, std::string p) { return backend_.signup(std::move(e), std::move(p)); });
    });
    connect(email_, &KestalField::textChanged, this, [this] { sync(); });
    connect(password_, &KestalField::textChanged, this, [this] { sync(); });
    connect(upgradePro_, &QPushButton::clicked, this, [this] { checkout("pro"); });
    connect(upgradeTeam_, &QPushButton::clicked, this, [this] { checkout("team"); });
    connect(buyCredits_, &QPushButton::clicked, this, [this] {
        if (backend_.user()) checkout(backend_.user()->plan);
    });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        platform::Task<void> reload = backend_.reloadProfile();
        (void)reload;
    });
    connect(logout_, &QPushButton::clicked, this, [this] {
        platform::Task<void> out = backend_.logout();
        (void)out;
    });

    connect(&backend_, &BackendClient::changed, this, [this] { sync(); });
    sync();
}

QString AccountSection::trimmedEmail(const QString& email) { return platform::TextTools::trimmedSpacesAndTabs(email); }

std::optional<QString> AccountSection::validate(const QString& email, const QString& password) {
    return AccountForm::validate(email, password);
}

QString AccountSection::failureMessage(std::exception_ptr error) {
    return AccountForm::failureMessage(error, kAlreadyRegistered);
}

QString AccountSection::capitalized(const QString& text) {
    QString out = text.toLower();
    bool start = true;
    for (QChar& c : out) {
        if (c.isSpace()) {
            start = true;
        } else if (start) {
            c = c.toUpper();
            start = false;
        }
    }
    return out;
}

void AccountSection::authenticate(Action action) {
    if (backend_.busy() || !action) return;
    const QString email = email_->text();
    const QString password = password_->text();
    if (auto fault = validate(email, password)) {
        setErrorText(fault);
        return;
    }
    setErrorText(std::nullopt);
    // The address goes out as it was checked: blanks around it would otherwise become part of a
    // new account's address, or make a correct log-in fail.
    run(std::move(action), trimmedEmail(email).toStdString(), password.toStdString());
}

platform::Task<void> AccountSection::run(Action action, std::string email, std::string password) {
    QPointer<AccountSection> self(this);
    platform::Task<std::optional<QString>> attempt =
        AccountForm::attempt(std::move(action), std::move(email), std::move(password), kAlreadyRegistered);
    const std::optional<QString> failure = co_await std::move(attempt);
    if (!self) co_return;
    if (failure) {
        self->setErrorText(*failure);
    } else {
        self->password_->setText({});
    }
}

void AccountSection::checkout(const std::string& plan) {
    setErrorText(std::nullopt);
    ++checkouts_;
    sync();
    runCheckout(plan);
}

platform::Task<void> AccountSection::runCheckout(std::string plan) {
    QPointer<AccountSection> self(this);
    std::exception_ptr failure;
    try {
        platform::Task<void> purchase = backend_.checkout(std::move(plan));
        co_await std::move(purchase);
    } catch (const BackendError& e) {
        failure = std::current_exception();
        qCWarning(logUi, "the checkout failed (%s)", e.code().c_str());
    } catch (...) {
        failure = std::current_exception();
        qCWarning(logUi, "the checkout failed: %s", FailureText::forLog(failure).c_str());
    }
    if (!self) co_return;
    if (failure) self->setErrorText(describe(failure));
    // Several checkouts may be watched at once; the spinner stays until the last one ends.
    --self->checkouts_;
    self->sync();
}

KestalErrorText* AccountSection::errorLabel() const { return backend_.user() ? signedInError_ : signedOutError_; }

void AccountSection::setErrorText(std::optional<QString> text) {
    errorText_ = std::move(text);
    for (KestalErrorText* label : {signedOutError_, signedInError_}) {
        label->setText(errorText_.value_or(QString()));
        label->setVisible(errorText_.has_value());
    }
}

void AccountSection::sync() {
    const auto& user = backend_.user();
    signedOut_->setVisible(!user);
    signedIn_->setVisible(user.has_value());

    const bool busy = backend_.busy();
    const bool enabled = !busy && !email_->text().isEmpty() && !password_->text().isEmpty();
    login_->setEnabled(enabled);
    create_->setEnabled(enabled);
    busySpinner_->setVisible(busy);

    if (user) {
        emailValue_->setText(QString::fromStdString(user->email));
        planValue_->setText(capitalized(QString::fromStdString(user->plan)));
        creditsValue_->setText(QString::number(user->creditBalance));
        const bool free = user->plan == "free";
        upgradeBox_->setVisible(free);
        buyCredits_->setVisible(!free);
    }
    checkoutSpinner_->setVisible(checkouts_ > 0);
}
