// Checkout links and the watch for a completed purchase on the fake clock.
#include "BackendFixture.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

class BackendCheckoutTest : public BackendFixture {
protected:
    // Runs a poll to its end, advancing the fake clock whenever it sleeps. `onPass(n)` runs before
    // pass n (1-based) wakes up. Returns the number of sleeps.
    int runPoll(int seconds, const std::function<void(int)>& onPass = {}) {
        auto poll = test::watch(client->pollForUpgrade(seconds));
        int sleeps = 0;
        auto& clock = test::fakes().scheduler;
        while (!poll->done) {
            EXPECT_TRUE(test::pumpUntil([&] { return poll->done || clock.pendingCount() > 0; }));
            if (poll->done) break;
            ++sleeps;
            if (onPass) onPass(sleeps);
            clock.advance(3);
        }
        EXPECT_FALSE(poll->error);
        return sleeps;
    }
};

TEST_F(BackendCheckoutTest, CheckoutReturnsTheServicesLinkAndRejectsOneThatIsNoUrl) {
    signIn();
    EXPECT_EQ(test::await(client->startCheckout("pro_monthly")), service->checkoutUrl);
    const auto sent = service->requestsTo("billing/checkout").at(0);
    EXPECT_EQ(json::parse(sent.body), (json{{"plan", "pro_monthly"}}));

    service->scriptReply("billing/checkout", 200, R"({"checkoutUrl":"https://pay example/x","sessionId":"cs"})");
    const auto e = backendError(client->startCheckout("pro_monthly"));
    EXPECT_EQ(e.code(), "bad_url");
    EXPECT_STREQ(e.what(), "Invalid checkout URL");

    service->scriptReply("billing/checkout", 200, R"({"checkoutUrl":"https://pay.example/x"})");  // no sessionId
    EXPECT_THROW(test::await(client->startCheckout("pro_monthly")), std::exception);
}

TEST_F(BackendCheckoutTest, CheckoutOpensOnlyWebPagesAndThenWatchesTheAccount) {
    signIn(10);
    auto purchase = test::watch(client->checkout("credits_500"));
    ASSERT_TRUE(test::pumpUntil([&] { return purchase->done || test::fakes().scheduler.pendingCount() > 0; }));
    ASSERT_EQ(test::fakes().workspace.opened, (std::vector<std::string>{service->checkoutUrl}));
    service->setCredits(kEmail, 510);
    test::fakes().scheduler.advance(3);
    ASSERT_TRUE(test::pumpUntil([&] { return purchase->done; }));
    EXPECT_EQ(client->user()->creditBalance, 510);

    // A link to anything but a web page is not handed to the desktop.
    service->scriptReply("billing/checkout", 200, R"({"checkoutUrl":"file:///etc/passwd","sessionId":"cs"})");
    EXPECT_EQ(backendError(client->checkout("credits_500")).code(), "bad_url");
    EXPECT_EQ(test::fakes().workspace.opened.size(), 1u);
}

TEST_F(BackendCheckoutTest, PassesAreAThirdOfTheSeconds) {
    signIn();
    EXPECT_EQ(runPoll(2), 0);
    EXPECT_EQ(service->count("me"), 0);
    EXPECT_EQ(runPoll(-3), 0);
    EXPECT_EQ(runPoll(3), 1);
    EXPECT_EQ(service->count("me"), 1);
    EXPECT_EQ(runPoll(10), 3);  // nothing changes: every pass runs
    EXPECT_EQ(service->count("me"), 4);
}

TEST_F(BackendCheckoutTest, PollStopsAtTheFirstChangeOfBalanceOrPlan) {
    signIn(10);
    EXPECT_EQ(runPoll(90, [&](int pass) { if (pass == 3) service->setCredits(kEmail, 60); }), 3);
    EXPECT_EQ(client->user()->creditBalance, 60);
    EXPECT_EQ(runPoll(90, [&](int pass) { if (pass == 2) service->setPlan(kEmail, "pro"); }), 2);
    EXPECT_EQ(client->user()->plan, "pro");
}

TEST_F(BackendCheckoutTest, PollCountsAnAbsentUserAsBalanceZeroAndPlanAbsent) {
    // Signed out from the start: nothing is asked, every pass runs.
    EXPECT_EQ(runPoll(9), 3);
    EXPECT_TRUE(service->requests().empty());

    // Signing out during the poll is a change (the plan becomes absent).
    signIn(0);
    EXPECT_EQ(runPoll(90, [&](int pass) {
                  if (pass == 2) {
                      test::fakes().defaults.setString("backendURL", unreachableBase());
                      test::await(client->logout());
                  }
              }),
              2);
}
