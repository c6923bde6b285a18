// Signing in and out, renewing tokens, and resuming a session at launch.
#include "BackendFixture.h"

#include "cloud/DecodingError.h"
#include "platform/Http.h"
#include "support/LoopbackHttpServer.h"

#include <nlohmann/json.hpp>

#include <vector>

using nlohmann::json;

using BackendSessionTest = BackendFixture;

TEST_F(BackendSessionTest, LoginSignsInStoresTheRefreshTokenAndReportsBusyAroundIt) {
    service->addAccount(kEmail, kPassword, 42, "pro");
    std::vector<bool> busySeen;
    QObject::connect(client.get(), &BackendClient::changed, client.get(), [&] { busySeen.push_back(client->busy()); });
    test::await(client->login(kEmail, kPassword));

    ASSERT_TRUE(client->isLoggedIn());
    EXPECT_EQ(client->user()->email, kEmail);
    EXPECT_EQ(client->user()->plan, "pro");
    EXPECT_EQ(client->user()->creditBalance, 42);
    EXPECT_FALSE(client->busy());
    ASSERT_EQ(busySeen, (std::vector<bool>{true, false}));
    ASSERT_TRUE(storedToken());
    EXPECT_TRUE(service->isRefreshTokenValid(*storedToken()));
    EXPECT_TRUE(BackendClient::hasStoredSession());
}

TEST_F(BackendSessionTest, FailedSignUpLeavesEverythingAsItWas) {
    service->addAccount(kEmail, kPassword);
    const auto e = backendError(client->signup(kEmail, "another one"));
    EXPECT_EQ(e.code(), "EMAIL_ALREADY_EXISTS");
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(client->busy());

    // A 2xx reply without "tokens" is a decoding failure: nothing stored, busy cleared.
    service->scriptReply("auth/signup", 201, R"({"user":{"id":"u9","email":"b@x.io","plan":"free","creditBalance":0}})");
    EXPECT_THROW(test::await(client->signup("b@x.io", "password1")), DecodingError);
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(client->busy());
    EXPECT_FALSE(storedToken());

    test::await(client->signup("c@x.io", "password2"));
    EXPECT_EQ(client->user()->email, "c@x.io");
}

TEST_F(BackendSessionTest, AnExpiredAccessTokenIsRenewedOnceWithRotation) {
    signIn();
    const std::string first = *storedToken();
    service->setCredits(kEmail, 7);
    service->expireAccessTokens();
    test::await(client->reloadProfile());

    EXPECT_EQ(client->user()->creditBalance, 7);
    EXPECT_EQ(service->count("auth/refresh"), 1);
    EXPECT_EQ(service->count("me"), 2);
    ASSERT_TRUE(storedToken());
    EXPECT_NE(*storedToken(), first);
    EXPECT_FALSE(service->isRefreshTokenValid(first));
    EXPECT_TRUE(service->isRefreshTokenValid(*storedToken()));
}

TEST_F(BackendSessionTest, LaunchResumesFromTheStoredRefreshToken) {
    service->addAccount(kEmail, kPassword, 5);
    EXPECT_FALSE(BackendClient::hasStoredSession());
    storeToken(service->issueRefreshToken(kEmail));
    ASSERT_TRUE(BackendClient::hasStoredSession());

    test::await(client->refresh());
    ASSERT_TRUE(client->isLoggedIn());
    EXPECT_EQ(client->user()->creditBalance, 5);
    EXPECT_EQ(changes, 1);
}

TEST_F(BackendSessionTest, LaunchWithTheServiceDownKeepsTheStoredToken) {
    storeToken("rt-kept");
    test::fakes().defaults.setString("backendURL", unreachableBase());
    EXPECT_EQ(backendError(client->refresh()).code(), "network");
    EXPECT_EQ(storedToken(), "rt-kept");
    EXPECT_FALSE(client->isLoggedIn());

    // A reply that does not decode keeps the token too: the service did not refuse it.
    test::fakes().defaults.setString("backendURL", service->baseURL());
    service->scriptReply("auth/refresh", 200, "{}");
    EXPECT_THROW(test::await(client->refresh()), DecodingError);
    EXPECT_EQ(storedToken(), "rt-kept");
}

TEST_F(BackendSessionTest, ARejectedRenewalSignsOutAndDeletesTheToken) {
    signIn();
    service->scriptReply("auth/refresh", 401, R"({"error":{"code":"INVALID_REFRESH_TOKEN","message":"Session expired"}})");
    const auto e = backendError(client->refresh());
    EXPECT_EQ(e.code(), "INVALID_REFRESH_TOKEN");
    EXPECT_STREQ(e.what(), "Session expired");
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(storedToken());

    // Without a token there is nothing to renew, and nothing is cleared.
    EXPECT_EQ(backendError(client->refresh()).code(), "no_session");

    // A plain 500 counts as a refusal as well.
    signIn();
    service->scriptReply("auth/refresh", 500, "oops");
    EXPECT_EQ(backendError(client->refresh()).code(), "http_500");
    EXPECT_FALSE(storedToken());
}

TEST_F(BackendSessionTest, ReloadWithoutAnAccessTokenAsksNothing) {
    storeToken(service->issueRefreshToken(kEmail));
    test::await(client->reloadProfile());
    EXPECT_TRUE(service->requests().empty());
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(BackendSessionTest, LogoutTellsTheServiceAndAlwaysClears) {
    signIn();
    const std::string token = *storedToken();
    test::await(client->logout());
    const auto sent = service->requestsTo("auth/logout");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(json::parse(sent[0].body), (json{{"refreshToken", token}}));
    EXPECT_FALSE(sent[0].header("Authorization").empty());
    EXPECT_FALSE(service->isRefreshTokenValid(token));
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(storedToken());

    // Offline: the service is never reached, the local session is gone all the same.
    signIn();
    test::fakes().defaults.setString("backendURL", unreachableBase());
    test::await(client->logout());
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(storedToken());
    test::fakes().defaults.setString("backendURL", service->baseURL());
    test::await(client->reloadProfile());  // no access token left
    EXPECT_EQ(service->count("me"), 0);
}

// Two calls that both meet an expired access token must not both spend the refresh token: the
// service rotates it, so the second renewal would be refused and sign the user out.
TEST_F(BackendSessionTest, SimultaneousUnauthorizedCallsShareOneRenewal) {
    signIn(100);
    service->expireAccessTokens();
    service->setDelay("auth/refresh", 150);
    auto a = test::watch(client->enhanceRemote("one", "Fix it.", "en"));
    auto b = test::watch(client->enhanceRemote("two", "Fix it.", "en"));
    auto c = test::watch(client->refresh());  // e.g. the launch renewal at the same moment
    ASSERT_TRUE(test::pumpUntil([&] { return a->done && b->done && c->done; }));

    EXPECT_FALSE(a->error);
    EXPECT_FALSE(b->error);
    EXPECT_FALSE(c->error);
    EXPECT_EQ(a->value, "Enhanced: one");
    EXPECT_EQ(b->value, "Enhanced: two");
    EXPECT_EQ(service->count("auth/refresh"), 1);
    EXPECT_TRUE(client->isLoggedIn());
    ASSERT_TRUE(storedToken());
    EXPECT_TRUE(service->isRefreshTokenValid(*storedToken()));
}

TEST_F(BackendSessionTest, CallersOfASharedRenewalAllSeeItsFailure) {
    signIn();
    service->expireAccessTokens();
    service->setDelay("auth/refresh", 100);
    service->scriptReply("auth/refresh", 401, R"({"error":{"code":"INVALID_REFRESH_TOKEN","message":"Session expired"}})");
    auto a = test::watch(client->enhanceRemote("one", "Fix it.", "en"));
    auto b = test::watch(client->transcribeRemote(std::string(100, 'x'), "en"));
    ASSERT_TRUE(test::pumpUntil([&] { return a->done && b->done; }));
    for (auto error : {a->error, b->error}) {
        ASSERT_TRUE(error);
        try {
            std::rethrow_exception(error);
        } catch (const BackendError& e) {
            EXPECT_EQ(e.code(), "INVALID_REFRESH_TOKEN");
        }
    }
    EXPECT_EQ(service->count("auth/refresh"), 1);
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(BackendSessionTest, ARenewalThatFinishesAfterLogoutDoesNotSignBackIn) {
    service->addAccount(kEmail, kPassword);
    storeToken(service->issueRefreshToken(kEmail));
    service->setDelay("auth/refresh", 150);
    service->scriptReply("auth/logout", 500, "");  // answered at once, so logout ends first
    auto renewal = test::watch(client->refresh());
    auto logout = test::watch(client->logout());
    ASSERT_TRUE(test::pumpUntil([&] { return logout->done; }));
    EXPECT_FALSE(renewal->done);
    ASSERT_TRUE(test::pumpUntil([&] { return renewal->done && logout->done; }));
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(storedToken());
}

TEST_F(BackendSessionTest, AProfileThatArrivesAfterLogoutDoesNotSignBackIn) {
    signIn();
    service->setDelay("me", 150);
    service->scriptReply("auth/logout", 500, "");
    auto reload = test::watch(client->reloadProfile());
    test::await(client->logout());
    ASSERT_TRUE(test::pumpUntil([&] { return reload->done; }));
    EXPECT_EQ(service->count("me"), 1);
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(BackendSessionTest, ALate401RepeatsWithTheNewerTokenWithoutRenewingAgain) {
    signIn();
    service->expireAccessTokens();
    service->setDelay("enhance", 200);  // its 401 comes back after the other call's renewal
    auto slow = test::watch(client->enhanceRemote("slow", "Fix it.", "en"));
    test::await(client->reloadProfile());
    EXPECT_EQ(service->count("auth/refresh"), 1);
    ASSERT_TRUE(test::pumpUntil([&] { return slow->done; }));
    EXPECT_FALSE(slow->error);
    EXPECT_EQ(service->count("auth/refresh"), 1);
    EXPECT_EQ(service->count("enhance"), 2);
}

// The service accepts and never answers: the renewal at launch and Log In end as network
// failures after the time-out, the stored sign-in is kept, and nothing stays busy.
TEST_F(BackendSessionTest, ANeverAnsweringServiceEndsRenewalAndLogInAsNetworkFailures) {
    test::LoopbackHttpServer silent([](const test::RecordedRequest&) {
        test::CannedReply r;
        r.silent = true;
        return r;
    });
    test::fakes().defaults.setString("backendURL", silent.baseUrl() + "/api");
    platform::Http::setTimeoutLimit(0.2);
    storeToken("rt-kept");
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(backendError(client->refresh()).code(), "network");
        EXPECT_EQ(storedToken(), "rt-kept");
        EXPECT_EQ(backendError(client->login(kEmail, kPassword)).code(), "network");
        EXPECT_FALSE(client->busy());
    }
}
