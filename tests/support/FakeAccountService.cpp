#include "support/FakeAccountService.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <stdexcept>

using nlohmann::json;

namespace test {

namespace {

std::string envelope(const std::string& code, const std::string& message) {
    return json{{"error", {{"code", code}, {"message", message}}}}.dump();
}

}  // namespace

std::string FakeAccountService::Request::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

FakeAccountService::FakeAccountService() : server_(std::make_unique<httplib::Server>()) {
    auto toRequest = [](const httplib::Request& req) {
        Request r;
        r.method = req.method;
        r.path = req.path.rfind("/api/", 0) == 0 ? req.path.substr(5) : req.path;
        for (const auto& [k, v] : req.headers) r.headers.emplace(k, v);
        return r;
    };
    auto respond = [](httplib::Response& res, const Reply& reply) {
        res.status = reply.status;
        res.set_content(reply.body, "application/json");
    };
    // Uploads are read part by part, so their order on the wire is kept.
    server_->Post("/api/stt/transcribe", [=, this](const httplib::Request& req, httplib::Response& res,
                                                    const httplib::ContentReader& reader) {
        Request r = toRequest(req);
        if (req.is_multipart_form_data()) {
            reader(
                [&](const httplib::MultipartFormData& part) {
                    r.parts.push_back({part.name, part.filename, part.content_type, {}});
                    return true;
                },
                [&](const char* data, size_t n) {
                    if (!r.parts.empty()) r.parts.back().content.append(data, n);
                    return true;
                });
        } else {
            reader([&](const char* data, size_t n) {
                r.body.append(data, n);
                return true;
            });
        }
        respond(res, handle(r));
    });
    auto plain = [=, this](const httplib::Request& req, httplib::Response& res) {
        Request r = toRequest(req);
        r.body = req.body;
        respond(res, handle(r));
    };
    server_->Get(R"(/api/.*)", plain);
    server_->Post(R"(/api/.*)", plain);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("fake account service: cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeAccountService::~FakeAccountService() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string FakeAccountService::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api"; }

void FakeAccountService::addAccount(const std::string& email, const std::string& password, std::int64_t credits,
                                    const std::string& plan) {
    std::lock_guard lock(mutex_);
    Account a;
    a.id = "u" + std::to_string(nextId_++);
    a.email = email;
    a.password = password;
    a.credits = credits;
    a.plan = plan;
    accounts_[email] = a;
}

std::optional<FakeAccountService::Account> FakeAccountService::account(const std::string& email) const {
    std::lock_guard lock(mutex_);
    auto it = accounts_.find(email);
    if (it == accounts_.end()) return std::nullopt;
    return it->second;
}

void FakeAccountService::setCredits(const std::string& email, std::int64_t credits) {
    std::lock_guard lock(mutex_);
    accounts_.at(email).credits = credits;
}

void FakeAccountService::setPlan(const std::string& email, const std::string& plan) {
    std::lock_guard lock(mutex_);
    accounts_.at(email).plan = plan;
}

std::string FakeAccountService::issueRefreshToken(const std::string& email) {
    std::lock_guard lock(mutex_);
    const std::string token = "rt-" + std::to_string(nextId_++);
    refreshTokens_[token] = email;
    return token;
}

void FakeAccountService::expireAccessTokens() {
    std::lock_guard lock(mutex_);
    accessTokens_.clear();
}

bool FakeAccountService::isRefreshTokenValid(const std::string& token) const {
    std::lock_guard lock(mutex_);
    return refreshTokens_.count(token) > 0;
}

void FakeAccountService::scriptReply(const std::string& path, int status, const std::string& body, int times) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < times; ++i) scripted_[path].push_back({status, body});
}

void FakeAccountService::setDelay(const std::string& path, int milliseconds) {
    std::lock_guard lock(mutex_);
    delays_[path] = milliseconds;
}

std::vector<FakeAccountService::Request> FakeAccountService::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<FakeAccountService::Request> FakeAccountService::requestsTo(const std::string& path) const {
    std::vector<Request> out;
    for (auto& r : requests())
        if (r.path == path) out.push_back(r);
    return out;
}

int FakeAccountService::count(const std::string& path) const { return static_cast<int>(requestsTo(path).size()); }

FakeAccountService::Reply FakeAccountService::handle(const Request& r) {
    int delay = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = delays_.find(r.path);
        if (it != delays_.end()) delay = it->second;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard lock(mutex_);
    log_.push_back(r);
    auto scripted = scripted_.find(r.path);
    if (scripted != scripted_.end() && !scripted->second.empty()) {
        Reply reply = scripted->second.front();
        scripted->second.erase(scripted->second.begin());
        return reply;
    }
    return handleLocked(r);
}

std::optional<std::string> FakeAccountService::bearerEmail(const Request& r) const {
    const std::string auth = r.header("Authorization");
    if (auth.rfind("Bearer ", 0) != 0) return std::nullopt;
    auto it = accessTokens_.find(auth.substr(7));
    if (it == accessTokens_.end()) return std::nullopt;
    return it->second;
}

std::string FakeAccountService::userJson(const Account& a) const {
    json u = {{"id", a.id}, {"email", a.email}, {"plan", a.plan}, {"creditBalance", a.credits}};
    u["subscriptionStatus"] = a.subscriptionStatus ? json(*a.subscriptionStatus) : json(nullptr);
    return u.dump();
}

std::string FakeAccountService::issueTokensJson(const std::string& email) {
    const std::string access = "at-" + std::to_string(nextId_++);
    const std::string refresh = "rt-" + std::to_string(nextId_++);
    accessTokens_[access] = email;
    refreshTokens_[refresh] = email;
    json reply = {{"user", json::parse(userJson(accounts_.at(email)))},
                  {"tokens", {{"accessToken", access}, {"refreshToken", refresh}, {"expiresIn", 900}}}};
    return reply.dump();
}

FakeAccountService::Reply FakeAccountService::handleLocked(const Request& r) {
    json body;
    if (!r.body.empty()) {
        body = json::parse(r.body, nullptr, false);
        if (body.is_discarded()) return {400, envelope("BAD_REQUEST", "Body is not JSON")};
    }
    auto str = [&](const char* key) { return body.is_object() && body.contains(key) && body[key].is_string() ? body[key].get<std::string>() : std::string(); };

    if (r.method == "POST" && r.path == "auth/signup") {
        const std::string email = str("email");
        if (accounts_.count(email)) return {409, envelope("EMAIL_ALREADY_EXISTS", "This email is already registered")};
        Account a;
        a.id = "u" + std::to_string(nextId_++);
        a.email = email;
        a.password = str("password");
        a.credits = 50;
        accounts_[email] = a;
        return {201, issueTokensJson(email)};
    }
    if (r.method == "POST" && r.path == "auth/login") {
        auto it = accounts_.find(str("email"));
        if (it == accounts_.end() || it->second.password != str("password"))
            return {401, envelope("INVALID_CREDENTIALS", "Wrong email or password")};
        return {200, issueTokensJson(it->first)};
    }
    if (r.method == "POST" && r.path == "auth/refresh") {
        auto it = refreshTokens_.find(str("refreshToken"));
        if (it == refreshTokens_.end()) return {401, envelope("INVALID_REFRESH_TOKEN", "Session expired")};
        const std::string email = it->second;
        refreshTokens_.erase(it);  // each refresh token is good for one renewal
        return {200, issueTokensJson(email)};
    }

    const auto email = bearerEmail(r);
    if (!email) return {401, envelope("UNAUTHORIZED", "Access token expired")};
    Account& account = accounts_.at(*email);

    if (r.method == "GET" && r.path == "me") return {200, json{{"user", json::parse(userJson(account))}}.dump()};
    if (r.method == "POST" && r.path == "auth/logout") {
        refreshTokens_.erase(str("refreshToken"));
        return {200, "{}"};
    }
    if (r.method == "POST" && r.path == "billing/checkout") {
        if (str("plan").empty()) return {400, envelope("BAD_PLAN", "Unknown plan")};
        return {200, json{{"checkoutUrl", checkoutUrl}, {"sessionId", "cs_test_1"}}.dump()};
    }

    const bool metered = r.method == "POST" && (r.path == "enhance" || r.path == "stt/transcribe");
    if (!metered) return {404, envelope("NOT_FOUND", "No such endpoint")};
    const std::string key = r.header("Idempotency-Key");
    if (!key.empty()) {
        auto done = idempotent_.find(key);
        if (done != idempotent_.end()) return done->second;  // a repeat is not charged again
    }
    const int price = r.path == "enhance" ? enhancePrice : transcribePrice;
    if (account.credits < price) return {402, envelope("INSUFFICIENT_CREDITS", "Not enough credits")};
    Reply reply;
    if (r.path == "enhance") {
        account.credits -= price;
        reply = {200, json{{"creditBalance", account.credits}, {"enhancement", {{"text", "Enhanced: " + str("text")}}}}.dump()};
    } else {
        const Part* audio = nullptr;
        std::string language;
        for (const auto& p : r.parts) {
            if (p.name == "audio") audio = &p;
            if (p.name == "language") language = p.content;
        }
        if (!audio) return {400, envelope("NO_AUDIO", "Missing audio")};
        account.credits -= price;
        json t = {{"text", "heard " + std::to_string(audio->content.size()) + " bytes"}};
        t["language"] = language.empty() ? json(nullptr) : json(language);
        reply = {200, json{{"creditBalance", account.credits}, {"transcription", t}}.dump()};
    }
    if (!key.empty()) idempotent_[key] = reply;
    return reply;
}

}  // namespace test
