#include "cloud/BackendClient.h"

#include "cloud/APIErrorBody.h"
#include "cloud/AuthResponse.h"
#include "cloud/BackendError.h"
#include "cloud/DecodingError.h"
#include "cloud/Enhancer.h"
#include "cloud/JsonDecoder.h"
#include "cloud/MeResponse.h"
#include "cloud/UrlSyntax.h"
#include "state/FailureText.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/MultipartBody.h"
#include "platform/Keychain.h"
#include "platform/TextTools.h"
#include "platform/Workspace.h"

#include <algorithm>

using nlohmann::json;

namespace {

bool isWebUrl(const std::string& url) {
    auto lower = url.substr(0, 8);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.rfind("https://", 0) == 0 || lower.rfind("http://", 0) == 0;
}

}  // namespace

// --- reply records ---

BackendClient::CheckoutResponse BackendClient::CheckoutResponse::fromJson(const json& j) {
    JsonDecoder::object(j, "reply");
    return CheckoutResponse{JsonDecoder::string(j, "checkoutUrl"), JsonDecoder::string(j, "sessionId")};
}

BackendClient::EnhanceResponse BackendClient::EnhanceResponse::fromJson(const json& j) {
    JsonDecoder::object(j, "reply");
    EnhanceResponse r;
    r.creditBalance = JsonDecoder::integer(j, "creditBalance");
    r.text = JsonDecoder::string(JsonDecoder::objectField(j, "enhancement"), "text");
    return r;
}

BackendClient::SttRemoteResponse BackendClient::SttRemoteResponse::fromJson(const json& j) {
    JsonDecoder::object(j, "reply");
    SttRemoteResponse r;
    r.creditBalance = JsonDecoder::integer(j, "creditBalance");
    const json& t = JsonDecoder::objectField(j, "transcription");
    r.text = JsonDecoder::string(t, "text");
    r.language = JsonDecoder::optionalString(t, "language");
    return r;
}

// --- the object ---

BackendClient& BackendClient::shared() {
    // Lives until exit; never destroyed, so its network session outlives no application object.
    static BackendClient* client = new BackendClient;
    return *client;
}

BackendClient::BackendClient() : http_(platform::Http::create(60)) {}
BackendClient::~BackendClient() = default;

std::string BackendClient::baseURL() const {
    if (auto override = platform::Defaults::shared().string("backendURL")) {
        // Tokens and passwords go to this address: never in the clear to another machine.
        if (UrlSyntax::isPrivateTransport(*override)) return *override;
    }
    return kBuiltInBaseURL;
}

platform::Scheduler& BackendClient::scheduler() const { return scheduler_ ? *scheduler_ : platform::Scheduler::main(); }

void BackendClient::setUser(std::optional<UserProfile> user) {
    if (user == user_) return;
    user_ = std::move(user);
    emit changed();
}

void BackendClient::setBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    emit changed();
}

void BackendClient::signOutLocally() {
    accessToken_.reset();
    ++sessionEpoch_;
    const bool hadUser = user_.has_value();
    user_.reset();
    deleteRefreshToken();
    if (hadUser) emit changed();
}

void BackendClient::applyBalance(std::int64_t balance) {
    if (!user_) return;
    UserProfile updated = *user_;
    updated.creditBalance = balance;
    setUser(std::move(updated));
}

// --- the refresh-token item ---

std::optional<std::string> BackendClient::loadRefreshToken() {
    auto data = platform::Keychain::shared().get(kKeychainService, kRefreshTokenAccount);
    if (!data || !platform::TextTools::isUtf8(*data)) return std::nullopt;
    return data;
}

void BackendClient::saveRefreshToken(const std::string& token) {
    auto& keychain = platform::Keychain::shared();
    keychain.remove(kKeychainService, kRefreshTokenAccount);
    keychain.set(kKeychainService, kRefreshTokenAccount, token);
}

void BackendClient::deleteRefreshToken() { platform::Keychain::shared().remove(kKeychainService, kRefreshTokenAccount); }

bool BackendClient::hasStoredSession() { return loadRefreshToken().has_value(); }

// --- the request routine ---

platform::Task<std::string> BackendClient::request(std::string path, std::string method,
                                                   std::optional<std::string> body, bool authorized,
                                                   platform::HttpHeaders headers, double timeout, bool retriedAuth) {
    platform::HttpRequest req;
    req.url = UrlSyntax::appendingPath(baseURL(), path);
    req.method = method;
    req.timeout = timeout;
    const bool callerSetsType =
        std::any_of(headers.begin(), headers.end(), [](const auto& h) { return h.first == "Content-Type"; });
    if (body && !callerSetsType) req.headers.emplace_back("Content-Type", "application/json");
    for (const auto& h : headers) req.headers.push_back(h);
    if (body) req.body = *body;
    const std::uint64_t generation = tokenGeneration_;
    if (authorized && accessToken_) req.headers.emplace_back("Authorization", "Bearer " + *accessToken_);

    platform::HttpResponse reply;
    try {
        reply = co_await http_->send(std::move(req));
    } catch (...) {
        qCWarning(logCloud, "account service %s %s: %s", method.c_str(), path.c_str(),
                  FailureText::forLog(std::current_exception()).c_str());
        // Whatever went wrong in transport, the user learns which server could not be reached.
        throw BackendError::network(platform::http::hostOf(baseURL()));
    }
    const int status = reply.status;

    if (status == 401 && authorized && !retriedAuth) {
        // A newer access token may have arrived while this request was out (another call's
        // renewal): repeat with it rather than spend the refresh token a second time.
        if (generation == tokenGeneration_ || !accessToken_) co_await refresh();
        std::string repeated = co_await request(std::move(path), std::move(method), std::move(body), true,
                                                std::move(headers), timeout, true);
        co_return repeated;
    }
    if (status >= 200 && status <= 299) co_return std::move(reply.body);

    std::optional<APIErrorBody> envelope;
    try {
        envelope = APIErrorBody::fromJson(JsonDecoder::parse(reply.body));
    } catch (const DecodingError&) {
        // A refusal without the service's error record: its status is all there is to tell.
    }
    // The service's message is not logged: it may quote what was sent.
    qCWarning(logCloud, "account service %s %s: HTTP %d%s%s", method.c_str(), path.c_str(), status,
              envelope ? ", " : "", envelope ? envelope->error.code.c_str() : "");
    if (envelope) throw BackendError(envelope->error.code, envelope->error.message);
    throw BackendError::httpStatus(status);
}

// --- sign-in and tokens ---

platform::Task<void> BackendClient::login(std::string email, std::string password) {
    co_await authenticate("auth/login", std::move(email), std::move(password));
}

platform::Task<void> BackendClient::signup(std::string email, std::string password) {
    co_await authenticate("auth/signup", std::move(email), std::move(password));
}

platform::Task<void> BackendClient::authenticate(std::string path, std::string email, std::string password) {
    setBusy(true);
    AuthResponse auth;
    try {
        const std::string body = json{{"email", email}, {"password", password}}.dump();
        const std::string reply = co_await request(path, "POST", body, false, {}, 15);
        auth = AuthResponse::fromJson(JsonDecoder::parse(reply));
    } catch (...) {
        qCWarning(logCloud, "%s failed: %s", path.c_str(), FailureText::forLog(std::current_exception()).c_str());
        setBusy(false);
        throw;
    }
    accessToken_ = auth.tokens.accessToken;
    ++tokenGeneration_;
    ++sessionEpoch_;
    saveRefreshToken(auth.tokens.refreshToken);
    user_ = auth.user;
    busy_ = false;
    emit changed();
}

platform::Task<void> BackendClient::refresh() {
    if (auto flight = refreshFlight_) {
        // One renewal at a time: a rotating service accepts each refresh token once, so a second
        // renewal with the same token would be refused and sign the user out for nothing.
        FlightAwaiter shared{flight};  // named: GCC 12 mishandles temporary awaiters
        co_await shared;
        co_return;
    }
    auto flight = std::make_shared<RefreshFlight>();
    refreshFlight_ = flight;
    std::exception_ptr error;
    try {
        co_await performRefresh();
    } catch (...) {
        error = std::current_exception();
        qCWarning(logCloud, "the session could not be renewed: %s", FailureText::forLog(error).c_str());
    }
    if (refreshFlight_ == flight) refreshFlight_.reset();
    flight->done = true;
    flight->error = error;
    auto waiters = std::move(flight->waiters);
    for (auto h : waiters) h.resume();
    if (error) std::rethrow_exception(error);
}

platform::Task<void> BackendClient::performRefresh() {
    const auto token = loadRefreshToken();
    if (!token) throw BackendError::noSession();
    const std::uint64_t epoch = sessionEpoch_;
    const std::string body = json{{"refreshToken", *token}}.dump();
    AuthResponse auth;
    try {
        const std::string reply = co_await request("auth/refresh", "POST", body, false, {}, 15);
        auth = AuthResponse::fromJson(JsonDecoder::parse(reply));
    } catch (const BackendError& e) {
        // The service refused the token: the session is over. A "network" failure keeps it for a
        // later attempt. A sign-in or sign-out since the renewal began is left alone.
        qCWarning(logCloud, "the renewal was refused (%s)", e.code().c_str());
        if (e.code() != "network" && epoch == sessionEpoch_) signOutLocally();
        throw;
    }
    // Signed out (or in anew) meanwhile: this renewal's tokens belong to a session that is gone.
    if (epoch != sessionEpoch_) co_return;
    accessToken_ = auth.tokens.accessToken;
    ++tokenGeneration_;
    saveRefreshToken(auth.tokens.refreshToken);
    setUser(auth.user);
}

platform::Task<void> BackendClient::reloadProfile() {
    if (!accessToken_) co_return;
    const std::uint64_t epoch = sessionEpoch_;
    std::optional<MeResponse> me;
    try {
        const std::string reply = co_await request("me", "GET", std::nullopt, true, {}, 15);
        const json j = JsonDecoder::parse(reply);
        if (!j.is_null()) me = MeResponse::fromJson(j);
    } catch (...) {
        qCWarning(logCloud, "the profile could not be reloaded: %s",
                  FailureText::forLog(std::current_exception()).c_str());
        co_return;
    }
    // A profile that arrives after a sign-out must not bring the user back.
    if (me && epoch == sessionEpoch_) setUser(me->user);
}

platform::Task<void> BackendClient::logout() {
    if (const auto token = loadRefreshToken()) {
        try {
            const std::string body = json{{"refreshToken", *token}}.dump();
            co_await request("auth/logout", "POST", body, true, {}, 15);
        } catch (...) {
            // The local sign-out happens whatever the service says, or when it cannot be reached.
            qCWarning(logCloud, "the service was not told of the sign-out: %s",
                      FailureText::forLog(std::current_exception()).c_str());
        }
    }
    signOutLocally();
}

// --- checkout ---

platform::Task<std::string> BackendClient::startCheckout(std::string plan) {
    const std::string body = json{{"plan", plan}}.dump();
    const std::string reply = co_await request("billing/checkout", "POST", body, true, {}, 15);
    const auto checkout = CheckoutResponse::fromJson(JsonDecoder::parse(reply));
    if (!UrlSyntax::parses(checkout.checkoutUrl)) throw BackendError::badUrl();
    co_return checkout.checkoutUrl;
}

platform::Task<void> BackendClient::pollForUpgrade(int seconds) {
    const int passes = seconds / 3;
    if (passes <= 0) co_return;
    const std::optional<std::string> plan0 = user_ ? std::optional(user_->plan) : std::nullopt;
    const std::int64_t balance0 = user_ ? user_->creditBalance : 0;
    for (int pass = 0; pass < passes; ++pass) {
        co_await platform::sleepFor(3, scheduler());
        co_await reloadProfile();
        const std::optional<std::string> plan = user_ ? std::optional(user_->plan) : std::nullopt;
        const std::int64_t balance = user_ ? user_->creditBalance : 0;
        if (plan != plan0 || balance != balance0) co_return;
    }
}

platform::Task<void> BackendClient::checkout(std::string plan) {
    const std::string url = co_await startCheckout(std::move(plan));
    // The link comes from the network: only a web page is handed to the desktop, never another
    // scheme (a file, a local program's handler).
    if (!isWebUrl(url)) throw BackendError::badUrl();
    platform::Workspace::shared().openUrl(url);
    co_await pollForUpgrade(90);
}

// --- metered services ---

std::string BackendClient::transcriptionBody(const std::string& boundary, const std::string& wav,
                                             const std::string& lang) {
    platform::MultipartBody form(boundary);
    form.field("provider", "groq").field("mode", "managed");
    if (lang != "auto") form.field("language", lang);
    form.file("audio", "audio.wav", "audio/wav", wav);
    return form.finish();
}

platform::Task<void> BackendClient::ensureAccessToken() {
    if (accessToken_) co_return;
    co_await refresh();  // "no_session" at once without a stored sign-in; a refusal signs out
    if (!accessToken_) throw BackendError::noSession();
}

platform::Task<WhisperResult> BackendClient::transcribeRemote(std::string wav, std::string lang) {
    co_await ensureAccessToken();
    const std::string boundary = "tovrin-" + platform::http::makeUuid();
    std::string body = transcriptionBody(boundary, wav, lang);
    platform::HttpHeaders headers = {{"Idempotency-Key", "stt-" + platform::http::makeUuid()},
                                     {"Content-Type", "multipart/form-data; boundary=" + boundary}};
    const std::uint64_t epoch = sessionEpoch_;
    const std::string reply = co_await request("stt/transcribe", "POST", std::move(body), true, std::move(headers), 90);
    const auto stt = SttRemoteResponse::fromJson(JsonDecoder::parse(reply));
    if (epoch == sessionEpoch_) applyBalance(stt.creditBalance);
    co_return WhisperResult{stt.text, stt.language};
}

platform::Task<std::string> BackendClient::enhanceRemote(std::string text, std::string instruction,
                                                         std::string language) {
    co_await ensureAccessToken();
    const std::string body = json{{"text", text},
                                  {"template", "custom"},
                                  {"customPrompt", Enhancer::systemPrompt(instruction, language)},
                                  {"provider", "groq"},
                                  {"mode", "managed"}}
                                 .dump();
    platform::HttpHeaders headers = {{"Idempotency-Key", "enh-" + platform::http::makeUuid()}};
    const std::uint64_t epoch = sessionEpoch_;
    const std::string reply = co_await request("enhance", "POST", body, true, std::move(headers), 45);
    const auto enhanced = EnhanceResponse::fromJson(JsonDecoder::parse(reply));
    if (epoch == sessionEpoch_) applyBalance(enhanced.creditBalance);
    co_return enhanced.text;
}
