// The account client's request layer: where requests go, what they carry, and how replies and
// failures come back.
#include "BackendFixture.h"

#include "cloud/DecodingError.h"
#include "cloud/UrlSyntax.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

using BackendRequestTest = BackendFixture;

TEST_F(BackendRequestTest, BaseUrlOverrideIsUsedOnlyOverHttpsOrToThisMachine) {
    auto& defaults = test::fakes().defaults;
    defaults.remove("backendURL");
    EXPECT_EQ(client->baseURL(), "https://tovrin.io/api");
    EXPECT_EQ(client->baseURL().size(), 21u);
    // Not a URL, or one that would carry the tokens in the clear to another machine.
    for (const char* bad : {"", "https://exa mple.com/api", "https://host/%zz", "1http://host", "a#b#c", "relative/path",
                            "ftp://files.example/x", "http://example.com/api", "http://127.0.0.1.evil.example/",
                            "http://127.0.0.1@evil.example/", "http://10.0.0.2:8080/", "https:///path"}) {
        defaults.setString("backendURL", bad);
        EXPECT_EQ(client->baseURL(), "https://tovrin.io/api") << bad;
    }
    for (const char* good : {"https://staging.example/api", "HTTPS://h.io", "http://127.0.0.1:9/api/",
                             "http://localhost:8080", "http://[::1]:9/api", "http://127.1.2.3/"}) {
        defaults.setString("backendURL", good);
        EXPECT_EQ(client->baseURL(), good);
    }
    defaults.setInt("backendURL", 5);  // not a string
    EXPECT_EQ(client->baseURL(), "https://tovrin.io/api");
}

TEST_F(BackendRequestTest, PathsAreAppendedAfterExactlyOneSlash) {
    EXPECT_EQ(UrlSyntax::appendingPath("https://h.io/api", "auth/login"), "https://h.io/api/auth/login");
    EXPECT_EQ(UrlSyntax::appendingPath("https://h.io/api/", "me"), "https://h.io/api/me");
    EXPECT_EQ(UrlSyntax::appendingPath("https://h.io", "me"), "https://h.io/me");
    EXPECT_EQ(UrlSyntax::appendingPath("https://h.io/api?x=1", "me"), "https://h.io/api/me?x=1");

    // Over the wire, with a trailing slash on the override.
    test::fakes().defaults.setString("backendURL", service->baseURL() + "/");
    service->addAccount(kEmail, kPassword);
    test::await(client->login(kEmail, kPassword));
    ASSERT_EQ(service->count("auth/login"), 1);
}

TEST_F(BackendRequestTest, JsonCallsCarryTheirBodyContentTypeAndBearer) {
    signIn();
    const auto login = service->requestsTo("auth/login").at(0);
    EXPECT_EQ(login.method, "POST");
    EXPECT_EQ(login.header("Content-Type"), "application/json");
    EXPECT_EQ(login.header("Authorization"), "");  // never on sign-in
    EXPECT_EQ(json::parse(login.body), (json{{"email", kEmail}, {"password", kPassword}}));

    test::await(client->reloadProfile());
    const auto me = service->requestsTo("me").at(0);
    EXPECT_EQ(me.method, "GET");
    EXPECT_EQ(me.header("Authorization").rfind("Bearer at-", 0), 0u);
    EXPECT_EQ(me.header("Content-Type"), "");  // no body, no type
}

TEST_F(BackendRequestTest, TransportFailureIsNetworkNamingTheServiceHost) {
    test::fakes().defaults.setString("backendURL", unreachableBase());
    const auto e = backendError(client->login(kEmail, kPassword));
    EXPECT_EQ(e.code(), "network");
    EXPECT_STREQ(e.what(), "Server unreachable (127.0.0.1)");
    EXPECT_FALSE(client->busy());
}

TEST_F(BackendRequestTest, ErrorRepliesUseTheEnvelopeOrFallBackToTheStatus) {
    service->addAccount(kEmail, kPassword);
    auto e = backendError(client->login(kEmail, "wrong password"));
    EXPECT_EQ(e.code(), "INVALID_CREDENTIALS");
    EXPECT_STREQ(e.what(), "Wrong email or password");

    service->scriptReply("auth/login", 500, "<html>Internal error</html>");
    e = backendError(client->login(kEmail, kPassword));
    EXPECT_EQ(e.code(), "http_500");
    EXPECT_STREQ(e.what(), "Request failed (HTTP 500)");

    // An envelope without "message" is no envelope.
    service->scriptReply("auth/login", 418, R"({"error":{"code":"TEAPOT"}})");
    e = backendError(client->login(kEmail, kPassword));
    EXPECT_EQ(e.code(), "http_418");

    service->scriptReply("auth/login", 503, R"({"error":{"code":"DOWN","message":"Maintenance"},"extra":1})");
    e = backendError(client->login(kEmail, kPassword));
    EXPECT_EQ(e.code(), "DOWN");
    EXPECT_STREQ(e.what(), "Maintenance");
    EXPECT_FALSE(client->isLoggedIn());
}

TEST_F(BackendRequestTest, SignInAndRenewalCallsNeverTriggerARenewal) {
    storeToken(service->issueRefreshToken("nobody"));  // a token is at hand, but must not be spent
    service->addAccount(kEmail, kPassword);
    EXPECT_EQ(backendError(client->login(kEmail, "nope")).code(), "INVALID_CREDENTIALS");
    service->scriptReply("auth/signup", 401, R"({"error":{"code":"UNAUTHORIZED","message":"No"}})");
    EXPECT_EQ(backendError(client->signup("b@example.com", "password1")).code(), "UNAUTHORIZED");
    EXPECT_EQ(service->count("auth/refresh"), 0);

    storeToken("rt-unknown");
    EXPECT_EQ(backendError(client->refresh()).code(), "INVALID_REFRESH_TOKEN");
    EXPECT_EQ(service->count("auth/refresh"), 1);  // its own 401 is not retried
}

TEST_F(BackendRequestTest, UnauthorizedWithoutAStoredSessionEndsInNoSession) {
    const auto e = backendError(client->startCheckout("pro"));
    EXPECT_EQ(e.code(), "no_session");
    EXPECT_STREQ(e.what(), "Not logged in");
    EXPECT_EQ(service->count("billing/checkout"), 1);
    EXPECT_EQ(service->count("auth/refresh"), 0);
}

TEST_F(BackendRequestTest, A401OnTheRetryIsNotRetriedAgain) {
    signIn();
    service->scriptReply("billing/checkout", 401, R"({"error":{"code":"UNAUTHORIZED","message":"Still no"}})", 2);
    auto e = backendError(client->startCheckout("pro"));
    EXPECT_EQ(e.code(), "UNAUTHORIZED");
    EXPECT_STREQ(e.what(), "Still no");
    EXPECT_EQ(service->count("billing/checkout"), 2);
    EXPECT_EQ(service->count("auth/refresh"), 1);

    service->scriptReply("billing/checkout", 401, "", 2);
    e = backendError(client->startCheckout("pro"));
    EXPECT_EQ(e.code(), "http_401");
    EXPECT_EQ(service->count("auth/refresh"), 2);
    EXPECT_TRUE(client->isLoggedIn());  // the renewals themselves succeeded
}

TEST_F(BackendRequestTest, RepliesAreDecodedStrictlyAndDecodingErrorsAreNotServiceErrors) {
    service->addAccount(kEmail, kPassword);
    auto reply = [](json tokens, json user) { return json{{"user", user}, {"tokens", tokens}}.dump(); };
    const json user = {{"id", "u1"}, {"email", kEmail}, {"plan", "free"}, {"creditBalance", 3}};
    const json tokens = {{"accessToken", "a"}, {"refreshToken", "r"}, {"expiresIn", 60}};

    auto failsToDecode = [&](const std::string& body) {
        service->scriptReply("auth/login", 200, body);
        try {
            test::await(client->login(kEmail, kPassword));
        } catch (const BackendError& e) {
            ADD_FAILURE() << "decoding failure surfaced as BackendError " << e.code() << " for " << body;
        } catch (const DecodingError&) {
            return true;
        }
        return false;
    };
    json noExpiry = tokens;
    noExpiry.erase("expiresIn");
    EXPECT_TRUE(failsToDecode(reply(noExpiry, user)));
    json nullToken = tokens;
    nullToken["accessToken"] = nullptr;
    EXPECT_TRUE(failsToDecode(reply(nullToken, user)));
    json textBalance = user;
    textBalance["creditBalance"] = "3";
    EXPECT_TRUE(failsToDecode(reply(tokens, textBalance)));
    json fractional = user;
    fractional["creditBalance"] = 2.5;
    EXPECT_TRUE(failsToDecode(reply(tokens, fractional)));
    json numericStatus = user;
    numericStatus["subscriptionStatus"] = 1;
    EXPECT_TRUE(failsToDecode(reply(tokens, numericStatus)));
    EXPECT_TRUE(failsToDecode("not json"));
    EXPECT_TRUE(failsToDecode("[]"));
    EXPECT_FALSE(client->isLoggedIn());
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(client->busy());

    // Optional keys may be absent or null; unknown keys are ignored.
    json extra = user;
    extra["subscriptionStatus"] = nullptr;
    extra["avatar"] = "x";
    service->scriptReply("auth/login", 200, reply(tokens, extra));
    test::await(client->login(kEmail, kPassword));
    EXPECT_EQ(client->user()->creditBalance, 3);
    EXPECT_FALSE(client->user()->subscriptionStatus);
    json active = user;
    active["subscriptionStatus"] = "active";
    service->scriptReply("auth/login", 200, reply(tokens, active));
    test::await(client->login(kEmail, kPassword));
    EXPECT_EQ(client->user()->subscriptionStatus, "active");
}
