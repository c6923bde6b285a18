// Client of the product's account service: sign-in, tokens, credits, checkout and the metered
// transcription and enhancement. Main thread only; every operation is a coroutine that
// suspends while its request is in flight, so several may be outstanding at once.
#pragma once

#include "cloud/UserProfile.h"
#include "state/WhisperResult.h"
#include "platform/Http.h"
#include "platform/Scheduler.h"
#include "platform/Task.h"

#include <QObject>

#include <coroutine>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class BackendClient : public QObject {
    Q_OBJECT
public:
    // The base used unless the "backendURL" default holds a string that reads as a URL.
    static constexpr const char* kBuiltInBaseURL = "https://tovrin.io/api";
    // Keychain item of the refresh token.
    static constexpr const char* kKeychainService = "app.tovrin.mac";
    static constexpr const char* kRefreshTokenAccount = "refreshToken";

    // Reply records of single calls.
    struct CheckoutResponse {
        std::string checkoutUrl;
        std::string sessionId;
        static CheckoutResponse fromJson(const nlohmann::json& j);
    };
    struct EnhanceResponse {
        std::int64_t creditBalance = 0;
        std::string text;  // "enhancement": {"text"}
        static EnhanceResponse fromJson(const nlohmann::json& j);
    };
    struct SttRemoteResponse {
        std::int64_t creditBalance = 0;
        std::string text;                     // "transcription": {"text", "language"?}
        std::optional<std::string> language;
        static SttRemoteResponse fromJson(const nlohmann::json& j);
    };
    struct EmptyBody {};

    // The program's instance. Tests build their own.
    static BackendClient& shared();
    BackendClient();
    ~BackendClient();
    BackendClient(const BackendClient&) = delete;
    BackendClient& operator=(const BackendClient&) = delete;

    // --- state (observe `changed`) ---
    const std::optional<UserProfile>& user() const { return user_; }
    bool busy() const { return busy_; }
    bool isLoggedIn() const { return user_.has_value(); }
signals:
    // Fires after `user` or `busy` changed.
    void changed();

public:

    // The service's base URL, read on every use.
    std::string baseURL() const;

    // --- sign-in and tokens ---
    // Errors reach the caller unchanged (BackendError, DecodingError); state is kept on failure.
    platform::Task<void> login(std::string email, std::string password);
    platform::Task<void> signup(std::string email, std::string password);
    // Renews both tokens and `user` from the stored refresh token. "no_session" without one.
    // A refusal by the service signs out locally; "network" and undecodable replies keep
    // everything. Calls made while a renewal is in flight wait for it and share its outcome.
    platform::Task<void> refresh();
    // Re-reads the profile; does nothing without an access token; never throws.
    platform::Task<void> reloadProfile();
    // Tells the service, then always clears the session locally; never throws.
    platform::Task<void> logout();
    // True when a refresh token is stored (a sign-in can be resumed).
    static bool hasStoredSession();

    // --- checkout ---
    // The hosted checkout page for `plan`; "bad_url" when the service's link does not read as a URL.
    platform::Task<std::string> startCheckout(std::string plan);
    // Re-reads the profile every 3 s, seconds / 3 times, until the plan or the balance changes.
    platform::Task<void> pollForUpgrade(int seconds);
    // The whole purchase: start the checkout, open the page in the browser, then watch the
    // account for 90 s. Throws the checkout start's error (nothing is opened or polled then).
    platform::Task<void> checkout(std::string plan);

    // --- metered services ---
    // Neither uploads anything without an access token: a stored sign-in is renewed first, and
    // without one they end at once with "no_session" (the caller falls back).
    platform::Task<WhisperResult> transcribeRemote(std::string wav, std::string lang);
    // The upload of transcribeRemote: the fields "provider", "mode" and (unless `lang` is "auto")
    // "language", then the audio part, all separated by `boundary`.
    static std::string transcriptionBody(const std::string& boundary, const std::string& wav, const std::string& lang);
    platform::Task<std::string> enhanceRemote(std::string text, std::string instruction, std::string language);

    // The clock of the upgrade poll (the main scheduler when none is set).
    void setScheduler(platform::Scheduler* scheduler) { scheduler_ = scheduler; }

private:
    struct RefreshFlight {
        bool done = false;
        std::exception_ptr error;
        std::vector<std::coroutine_handle<>> waiters;
    };
    struct FlightAwaiter {
        std::shared_ptr<RefreshFlight> flight;
        bool await_ready() const noexcept { return flight->done; }
        void await_suspend(std::coroutine_handle<> h) { flight->waiters.push_back(h); }
        void await_resume() const {
            if (flight->error) std::rethrow_exception(flight->error);
        }
    };

    // The one request routine: returns the body of a 2xx reply, throws BackendError otherwise.
    // An authorized call that meets 401 renews the tokens once and repeats itself unchanged.
    platform::Task<std::string> request(std::string path, std::string method, std::optional<std::string> body,
                                        bool authorized, platform::HttpHeaders headers, double timeout,
                                        bool retriedAuth = false);
    platform::Task<void> authenticate(std::string path, std::string email, std::string password);
    platform::Task<void> performRefresh();
    platform::Task<void> ensureAccessToken();
    void applyBalance(std::int64_t balance);
    void setUser(std::optional<UserProfile> user);
    void setBusy(bool busy);
    void signOutLocally();
    platform::Scheduler& scheduler() const;

    static std::optional<std::string> loadRefreshToken();
    static void saveRefreshToken(const std::string& token);
    static void deleteRefreshToken();

    std::optional<UserProfile> user_;
    bool busy_ = false;
    std::optional<std::string> accessToken_;  // memory only
    std::unique_ptr<platform::Http> http_;
    platform::Scheduler* scheduler_ = nullptr;
    std::shared_ptr<RefreshFlight> refreshFlight_;
    // Bumped whenever a new access token is taken on; a request that meets 401 after a newer
    // token arrived repeats with it instead of spending the refresh token again.
    std::uint64_t tokenGeneration_ = 0;
    // Bumped by every sign-in and sign-out; results of work begun under an older session are dropped.
    std::uint64_t sessionEpoch_ = 0;
};
