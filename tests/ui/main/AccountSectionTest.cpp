// The account group of the settings: the form's checks and messages, what reaches the service,
// the two forms following the sign-in, and checkout with its spinner and failures.
#include "cloud/BackendFixture.h"
#include "support/Child.h"
#include "support/AsyncWait.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalField.h"
#include "ui/main/AccountSection.h"
#include "ui/kit/ActivitySpinner.h"

#include <nlohmann/json.hpp>

#include <QLabel>
#include <QPushButton>

#include <optional>
#include <vector>

namespace {

const QString kBadEmail = "Enter a valid email address.";
const QString kShortPassword = "Password needs at least 8 characters.";

class AccountSectionTest : public BackendFixture {
protected:
    void SetUp() override {
        BackendFixture::SetUp();
        section = std::make_unique<AccountSection>(*client);
    }
    void TearDown() override {
        section.reset();
        BackendFixture::TearDown();
    }
    void fill(const QString& email, const QString& password) {
        test::child<KestalField>(section, "emailField")->setText(email);
        test::child<KestalField>(section, "passwordField")->setText(password);
    }
    void clickAndWait(QPushButton* button) {
        ASSERT_TRUE(button->isEnabled());
        button->click();
        ASSERT_TRUE(test::pumpUntil([&] { return !client->busy(); }));
        test::pumpFor(0.02);
    }
    static bool shown(QWidget* w) { return !w->isHidden(); }

    std::unique_ptr<AccountSection> section;
};

TEST_F(AccountSectionTest, TheFormIsCheckedEmailFirstThenPasswordAndNothingIsSentWhenItFails) {
    struct Case {
        const char* what;
        QString email;
        QString password;
        std::optional<QString> expected;
    };
    const QString good = "long enough";
    const std::vector<Case> cases = {
        {"blanks around a good address", " \tann@example.com \t", good, std::nullopt},
        {"short, but with an at sign and a dot", "a@b.c", good, std::nullopt},
        {"an at sign but no dot", "ann@example", good, kBadEmail},
        {"a dot but no at sign", "ann.example.com", good, kBadEmail},
        {"only blanks", "   ", good, kBadEmail},
        {"a bad address hides a short password", "nobody", "short", kBadEmail},
        {"seven characters", "ann@example.com", "1234567", kShortPassword},
        {"eight characters", "ann@example.com", "12345678", std::nullopt},
        {"seven emoji with skin tones are seven characters", "ann@example.com",
         QString::fromUtf8("\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"
                           "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"),
         kShortPassword},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AccountSection::validate(c.email, c.password), c.expected);
    }
    EXPECT_EQ(AccountSection::trimmedEmail(" \tann@example.com\t "), "ann@example.com");
    EXPECT_EQ(AccountSection::trimmedEmail("ann@example.com\n"), "ann@example.com\n") << "line breaks stay";

    fill("ann@example", "long enough");
    test::child<QPushButton>(section, "loginButton")->click();
    EXPECT_EQ(section->errorText(), kBadEmail);
    EXPECT_EQ(section->errorLabel()->text(), kBadEmail);
    EXPECT_TRUE(shown(section->errorLabel()));
    fill("ann@example.com", "1234567");
    test::child<QPushButton>(section, "createButton")->click();
    EXPECT_EQ(section->errorText(), kShortPassword);
    EXPECT_TRUE(service->requests().empty());
    EXPECT_EQ(test::child<KestalField>(section, "emailField")->text(), "ann@example.com");
    EXPECT_EQ(test::child<KestalField>(section, "passwordField")->text(), "1234567");
}

TEST_F(AccountSectionTest, ButtonsNeedBothFieldsAndAreOffWhileARequestRuns) {
    EXPECT_FALSE(test::child<QPushButton>(section, "loginButton")->isEnabled());
    EXPECT_FALSE(test::child<QPushButton>(section, "createButton")->isEnabled());
    fill("ann@example.com", "");
    EXPECT_FALSE(test::child<QPushButton>(section, "loginButton")->isEnabled());
    fill("", "correct horse");
    EXPECT_FALSE(test::child<QPushButton>(section, "createButton")->isEnabled());
    fill("ann@example.com", "correct horse");
    EXPECT_TRUE(test::child<QPushButton>(section, "loginButton")->isEnabled());
    EXPECT_TRUE(test::child<QPushButton>(section, "createButton")->isEnabled());

    service->addAccount(kEmail, kPassword);
    service->setDelay("auth/login", 200);
    fill(kEmail, kPassword);
    test::child<QPushButton>(section, "loginButton")->click();
    ASSERT_TRUE(client->busy());
    EXPECT_FALSE(test::child<QPushButton>(section, "loginButton")->isEnabled());
    EXPECT_FALSE(test::child<QPushButton>(section, "createButton")->isEnabled());
    EXPECT_TRUE(shown(test::child<ActivitySpinner>(section, "busySpinner")));
    ASSERT_TRUE(test::pumpUntil([&] { return !client->busy(); }));
    EXPECT_EQ(service->count("auth/login"), 1);
    EXPECT_FALSE(shown(test::child<ActivitySpinner>(section, "busySpinner")));
}

TEST_F(AccountSectionTest, ALogInSendsTheCheckedAddressClearsOnlyThePasswordAndShowsTheAccount) {
    service->addAccount(kEmail, kPassword, 1250);
    fill(QString(" \t") + kEmail + " ", kPassword);
    clickAndWait(test::child<QPushButton>(section, "loginButton"));
    ASSERT_EQ(service->count("auth/login"), 1);
    const auto body = nlohmann::json::parse(service->requestsTo("auth/login")[0].body);
    EXPECT_EQ(body["email"], kEmail);
    EXPECT_EQ(body["password"], kPassword);
    EXPECT_FALSE(section->errorText());
    EXPECT_EQ(test::child<KestalField>(section, "passwordField")->text(), "");
    EXPECT_EQ(test::child<KestalField>(section, "emailField")->text(), QString(" \t") + kEmail + " ");

    EXPECT_FALSE(shown(test::child<QWidget>(section, "signedOutForm")));
    EXPECT_TRUE(shown(test::child<QWidget>(section, "signedInForm")));
    EXPECT_EQ(test::child<QLabel>(section, "accountEmail")->text(), kEmail);
    EXPECT_EQ(test::child<QLabel>(section, "accountPlan")->text(), "Free");
    EXPECT_EQ(test::child<QLabel>(section, "accountCredits")->text(), "1250");
    EXPECT_TRUE(shown(test::child<QWidget>(section, "upgradeBox")));
    EXPECT_FALSE(shown(test::child<QPushButton>(section, "buyCreditsButton")));

    // "Refresh" reads the account again.
    service->setCredits(kEmail, 900);
    test::child<QPushButton>(section, "refreshAccount")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return test::child<QLabel>(section, "accountCredits")->text() == "900"; }));

    // Log-out swaps the forms back; the address typed before is still there.
    test::child<QPushButton>(section, "logoutButton")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return !client->isLoggedIn(); }));
    EXPECT_TRUE(shown(test::child<QWidget>(section, "signedOutForm")));
    EXPECT_FALSE(shown(test::child<QWidget>(section, "signedInForm")));
    EXPECT_EQ(service->count("auth/logout"), 1);
}

TEST_F(AccountSectionTest, RefusalsReadAsTheirMessagesAndKeepWhatWasTyped) {
    service->addAccount(kEmail, kPassword);

    fill(kEmail, "wrong password");
    clickAndWait(test::child<QPushButton>(section, "loginButton"));
    EXPECT_EQ(section->errorText(), "Wrong email or password.");
    EXPECT_EQ(section->errorLabel()->text(), "Wrong email or password.");
    EXPECT_EQ(test::child<KestalField>(section, "emailField")->text(), kEmail);
    EXPECT_EQ(test::child<KestalField>(section, "passwordField")->text(), "wrong password");

    fill(kEmail, kPassword);
    clickAndWait(test::child<QPushButton>(section, "createButton"));
    EXPECT_EQ(section->errorText(), QString::fromUtf8("This email is already registered \u2014 use Log In."));
    EXPECT_EQ(service->count("auth/signup"), 1);

    service->scriptReply("auth/login", 429, R"({"error":{"code":"RATE_LIMITED","message":"Slow down a little."}})");
    clickAndWait(test::child<QPushButton>(section, "loginButton"));
    EXPECT_EQ(section->errorText(), "Slow down a little.");

    test::fakes().defaults.setString("backendURL", unreachableBase());
    clickAndWait(test::child<QPushButton>(section, "loginButton"));
    EXPECT_EQ(section->errorText(), QString::fromUtf8("No connection \u2014 check the internet and try again."));
    EXPECT_FALSE(client->isLoggedIn());

    // A check that passes clears the last message before the request goes out.
    test::fakes().defaults.setString("backendURL", service->baseURL());
    service->setDelay("auth/login", 150);
    test::child<QPushButton>(section, "loginButton")->click();
    EXPECT_FALSE(section->errorText());
    EXPECT_FALSE(shown(section->errorLabel()));
    ASSERT_TRUE(test::pumpUntil([&] { return client->isLoggedIn(); }));
}

// Replies that do not parse read as one plain sentence in every error label of the form, never
// as the parser's own text.
TEST_F(AccountSectionTest, UnreadableRepliesNeverShowTheParsersText) {
    service->addAccount(kEmail, kPassword);
    auto labels = [&] {
        QStringList texts;
        for (auto* label : section->findChildren<KestalErrorText*>()) texts << label->text();
        return texts.join("\n");
    };
    const QString unreadable = "The service sent an unreadable reply.";
    fill(kEmail, kPassword);
    service->scriptReply("auth/login", 200, "<html>gateway</html>");
    clickAndWait(test::child<QPushButton>(section, "loginButton"));
    EXPECT_EQ(section->errorText(), unreadable);
    EXPECT_FALSE(labels().contains("json", Qt::CaseInsensitive)) << labels().toStdString();
    service->scriptReply("auth/signup", 200, R"({"accessToken":)");
    clickAndWait(test::child<QPushButton>(section, "createButton"));
    EXPECT_EQ(section->errorText(), unreadable);
    EXPECT_FALSE(labels().contains("json", Qt::CaseInsensitive)) << labels().toStdString();

    signIn();
    service->scriptReply("billing/checkout", 200, "not json");
    test::child<QPushButton>(section, "upgradeProButton")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return !section->checkingOut(); }));
    EXPECT_EQ(section->errorText(), unreadable);
    EXPECT_FALSE(labels().contains("json", Qt::CaseInsensitive)) << labels().toStdString();
}

TEST_F(AccountSectionTest, ThePlanDecidesTheCheckoutButtonsAndTheSpinnerCoversTheWholeWatch) {
    signIn(10);
    ASSERT_TRUE(shown(test::child<QWidget>(section, "upgradeBox")));
    EXPECT_FALSE(shown(test::child<ActivitySpinner>(section, "checkoutSpinner")));

    test::child<QPushButton>(section, "upgradeTeamButton")->click();
    EXPECT_TRUE(section->checkingOut());
    EXPECT_TRUE(shown(test::child<ActivitySpinner>(section, "checkoutSpinner")));
    ASSERT_TRUE(test::pumpUntil([&] { return test::fakes().workspace.opened.size() == 1; }));
    EXPECT_EQ(test::fakes().workspace.opened[0], service->checkoutUrl);
    EXPECT_EQ(nlohmann::json::parse(service->requestsTo("billing/checkout")[0].body)["plan"], "team");

    // Paid: the next look at the account finds the new plan, which swaps the buttons.
    service->setPlan(kEmail, "team");
    test::fakes().scheduler.advance(3);
    ASSERT_TRUE(test::pumpUntil([&] { return !section->checkingOut(); }));
    EXPECT_FALSE(shown(test::child<ActivitySpinner>(section, "checkoutSpinner")));
    EXPECT_EQ(test::child<QLabel>(section, "accountPlan")->text(), "Team");
    EXPECT_FALSE(shown(test::child<QWidget>(section, "upgradeBox")));
    ASSERT_TRUE(shown(test::child<QPushButton>(section, "buyCreditsButton")));
    EXPECT_FALSE(section->errorText());

    // "Buy more credits" checks out the current plan again.
    test::child<QPushButton>(section, "buyCreditsButton")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return service->count("billing/checkout") == 2; }));
    EXPECT_EQ(nlohmann::json::parse(service->requestsTo("billing/checkout")[1].body)["plan"], "team");
    // Nothing changes: the watch ends after 90 s, and only then does the spinner go.
    auto& clock = test::fakes().scheduler;
    ASSERT_TRUE(test::pumpUntil([&] { return clock.pendingCount() > 0; }));
    const double start = clock.now();
    ASSERT_TRUE(test::driveUntil([&] { return !section->checkingOut(); }, 20, 3));
    EXPECT_DOUBLE_EQ(clock.now() - start, 90);
    EXPECT_FALSE(shown(test::child<ActivitySpinner>(section, "checkoutSpinner")));
}

TEST_F(AccountSectionTest, ACheckoutThatCannotStartShowsWhyAndOpensNothing) {
    signIn();
    service->scriptReply("billing/checkout", 200, R"({"checkoutUrl":"file:///etc/passwd","sessionId":"cs"})");
    test::child<QPushButton>(section, "upgradeProButton")->click();
    ASSERT_TRUE(test::pumpUntil([&] { return !section->checkingOut(); }));
    EXPECT_EQ(section->errorText(), "Invalid checkout URL");
    EXPECT_EQ(section->errorLabel()->text(), "Invalid checkout URL");
    EXPECT_TRUE(shown(section->errorLabel()));
    EXPECT_TRUE(test::fakes().workspace.opened.empty());
    EXPECT_TRUE(shown(test::child<QWidget>(section, "signedInForm")));

    service->scriptReply("billing/checkout", 500, R"({"error":{"code":"STRIPE_DOWN","message":"Payments are paused."}})");
    test::child<QPushButton>(section, "upgradeProButton")->click();
    EXPECT_FALSE(section->errorText()) << "a new checkout clears the old message";
    ASSERT_TRUE(test::pumpUntil([&] { return !section->checkingOut(); }));
    EXPECT_EQ(section->errorText(), "Payments are paused.");
}

TEST_F(AccountSectionTest, ASectionClosedWhileItsRequestRunsIsLeftAlone) {
    service->setDelay("auth/login", 150);
    fill(kEmail, "wrong password");
    test::child<QPushButton>(section, "loginButton")->click();
    ASSERT_TRUE(client->busy());
    section.reset();
    ASSERT_TRUE(test::pumpUntil([&] { return !client->busy(); }));
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(AccountSectionTest, PlanNamesAreCapitalisedWordByWord) {
    EXPECT_EQ(AccountSection::capitalized("free"), "Free");
    EXPECT_EQ(AccountSection::capitalized("pro team"), "Pro Team");
    EXPECT_EQ(AccountSection::capitalized("PRO"), "Pro");
    EXPECT_EQ(AccountSection::capitalized(""), "");
}

}  // namespace
