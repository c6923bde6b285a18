// The onboarding account step: the form's checks and their messages, what is sent, and how the
// account service's refusals read.
#include "cloud/BackendFixture.h"
#include "support/Child.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalField.h"
#include "ui/onboarding/AccountStep.h"
#include "ui/kit/ActivitySpinner.h"

#include <nlohmann/json.hpp>

#include <QPushButton>

#include <optional>
#include <vector>

namespace {

const QString kBadEmail = QString::fromUtf8("Enter a valid email address.");
const QString kShortPassword = QString::fromUtf8("Password needs at least 8 characters.");

class OnboardingAccountTest : public BackendFixture {
protected:
    void SetUp() override {
        BackendFixture::SetUp();
        step = std::make_unique<AccountStep>([this] { ++advances; }, *client);
    }
    void TearDown() override {
        step.reset();
        BackendFixture::TearDown();
    }
    void fill(const QString& email, const QString& password) {
        test::child<KestalField>(step, "emailField")->setText(email);
        test::child<KestalField>(step, "passwordField")->setText(password);
    }
    // Submits and waits until the request has ended.
    void submitAndWait(bool signup) {
        step->submit(signup);
        ASSERT_TRUE(test::pumpUntil([&] { return !client->busy(); }));
    }

    std::unique_ptr<AccountStep> step;
    int advances = 0;
};

TEST_F(OnboardingAccountTest, TheFormIsCheckedEmailFirstThenPassword) {
    const QString good = "long enough";
    struct Case {
        const char* what;
        QString email;
        QString password;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases = {
        {"five characters after trimming", "  a@b.c \t", good, kBadEmail},
        {"six characters after trimming", " a@b.cd\t", good, std::nullopt},
        {"no dot, however long", "somebody@example", good, kBadEmail},
        {"no at-sign, however long", "somebody.example.com", good, kBadEmail},
        {"empty", "", good, kBadEmail},
        {"a no-break space is trimmed too", QString::fromUtf8("\u00A0a@b.c"), good, kBadEmail},
        {"a line break is not trimmed", "a@b.c\n", good, std::nullopt},
        {"an accented letter is one character", QString::fromUtf8("e\u0301@b.c"), good, kBadEmail},
        {"a bad email hides a bad password", "nobody", "short", kBadEmail},
        {"seven characters", "ann@example.com", "1234567", kShortPassword},
        {"eight characters", "ann@example.com", "12345678", std::nullopt},
        {"the password is not trimmed", "ann@example.com", "       x", std::nullopt},
        {"seven emoji are seven characters", "ann@example.com",
         QString::fromUtf8("\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"
                           "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"),
         kShortPassword},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AccountStep::validate(c.email, c.password), c.expected);
    }

    // A refused form shows its message, sends nothing and keeps what was typed.
    fill("  a@b.c ", "long enough");
    step->submit(true);
    EXPECT_EQ(step->errorText(), kBadEmail);
    EXPECT_EQ(test::child<KestalErrorText>(step, "errorLabel")->text(), kBadEmail);
    EXPECT_FALSE(test::child<KestalErrorText>(step, "errorLabel")->isHidden());
    fill("ann@example.com", "1234567");
    step->submit(false);
    EXPECT_EQ(step->errorText(), kShortPassword);
    EXPECT_EQ(test::child<KestalField>(step, "emailField")->text(), "ann@example.com");
    EXPECT_EQ(test::child<KestalField>(step, "passwordField")->text(), "1234567");
    EXPECT_TRUE(service->requests().empty());
    EXPECT_FALSE(client->busy());
    EXPECT_EQ(advances, 0);
}

TEST_F(OnboardingAccountTest, ASignInSendsTheTrimmedEmailAndAdvances) {
    service->addAccount(kEmail, kPassword);
    service->setDelay("auth/login", 200);
    fill("x", kPassword);
    step->submit(false);
    ASSERT_TRUE(step->errorText());

    fill(QString(" \t") + kEmail + "\t ", kPassword);
    step->submit(false);
    EXPECT_FALSE(step->errorText()) << "cleared by a submit that passes the checks";
    EXPECT_TRUE(test::child<KestalErrorText>(step, "errorLabel")->isHidden());
    ASSERT_TRUE(client->busy());
    // While the request runs both buttons are off and the primary one shows the spinner.
    EXPECT_FALSE(test::child<QPushButton>(step, "createButton")->isEnabled());
    EXPECT_FALSE(test::child<QPushButton>(step, "loginButton")->isEnabled());
    EXPECT_TRUE(test::child<QPushButton>(step, "createButton")->text().isEmpty());
    EXPECT_FALSE(test::child<ActivitySpinner>(step, "spinner")->isHidden());
    step->submit(true);  // a second press cannot start another request

    ASSERT_TRUE(test::pumpUntil([&] { return advances > 0; }));
    EXPECT_EQ(advances, 1);
    EXPECT_TRUE(client->isLoggedIn());
    ASSERT_EQ(service->count("auth/login"), 1);
    EXPECT_EQ(service->count("auth/signup"), 0);
    const auto body = nlohmann::json::parse(service->requestsTo("auth/login")[0].body);
    EXPECT_EQ(body["email"], kEmail);
    EXPECT_EQ(body["password"], kPassword);
    // The field itself keeps what was typed; the buttons come back.
    EXPECT_EQ(test::child<KestalField>(step, "emailField")->text(), QString(" \t") + kEmail + "\t ");
    EXPECT_TRUE(test::child<QPushButton>(step, "createButton")->isEnabled());
    EXPECT_EQ(test::child<QPushButton>(step, "createButton")->text(), QString::fromUtf8("Create Account \u2014 start free trial"));
    EXPECT_TRUE(test::child<ActivitySpinner>(step, "spinner")->isHidden());
}

TEST_F(OnboardingAccountTest, RefusalsOfTheServiceBecomeShortMessagesAndTheStepStays) {
    service->addAccount(kEmail, kPassword);

    fill(kEmail, "another password");
    submitAndWait(true);
    EXPECT_EQ(step->errorText(), QString::fromUtf8("This email is already registered \u2014 use Log In below."));

    submitAndWait(false);
    EXPECT_EQ(step->errorText(), QString::fromUtf8("Wrong email or password."));

    service->scriptReply("auth/login", 429, R"({"error":{"code":"RATE_LIMITED","message":"Slow down a little"}})");
    submitAndWait(false);
    EXPECT_EQ(step->errorText(), QString::fromUtf8("Slow down a little"));

    // A reply that is not the expected record: the decoding error's own text.
    service->scriptReply("auth/login", 200, R"({"unexpected":true})", 2);
    std::string decodingText;
    try {
        test::await(client->login(kEmail, kPassword));
    } catch (const std::exception& e) {
        decodingText = e.what();
    }
    ASSERT_FALSE(decodingText.empty());
    submitAndWait(false);
    EXPECT_EQ(step->errorText(), QString::fromStdString(decodingText));

    test::fakes().defaults.setString("backendURL", unreachableBase());
    submitAndWait(true);
    EXPECT_EQ(step->errorText(), QString::fromUtf8("No connection \u2014 check the internet and try again."));

    EXPECT_EQ(advances, 0);
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_EQ(test::child<KestalField>(step, "emailField")->text(), kEmail);
    EXPECT_EQ(test::child<KestalField>(step, "passwordField")->text(), "another password");
    EXPECT_TRUE(test::child<QPushButton>(step, "createButton")->isEnabled());
    EXPECT_TRUE(test::child<QPushButton>(step, "loginButton")->isEnabled());
}

TEST_F(OnboardingAccountTest, ASignedInUserPassesOverTheStep) {
    step->appear();
    EXPECT_EQ(advances, 0);
    signIn();
    step->appear();
    EXPECT_EQ(advances, 1);
}

}  // namespace
