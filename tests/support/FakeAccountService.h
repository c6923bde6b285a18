// A loopback stand-in for the account service: accounts with passwords, access tokens that can
// be expired on demand, refresh tokens that rotate on every use, the profile, log-out, checkout,
// and enhancement and transcription that charge credits (honouring idempotency keys). Every
// request is recorded. Runs cpp-httplib on 127.0.0.1 in its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace test {

class FakeAccountService {
public:
    struct Part {
        std::string name;
        std::string filename;
        std::string contentType;
        std::string content;
    };
    struct Request {
        std::string method;
        std::string path;  // below the base, e.g. "auth/login"
        std::multimap<std::string, std::string> headers;
        std::string body;         // empty for multipart uploads, which are kept as parts
        std::vector<Part> parts;  // multipart parts in the order they arrived
        std::string header(const std::string& name) const;
    };
    struct Account {
        std::string id;
        std::string email;
        std::string password;
        std::string plan = "free";
        std::int64_t credits = 0;
        std::optional<std::string> subscriptionStatus;
    };

    FakeAccountService();
    ~FakeAccountService();

    int port() const { return port_; }
    // "http://127.0.0.1:<port>/api"
    std::string baseURL() const;

    void addAccount(const std::string& email, const std::string& password, std::int64_t credits = 100,
                    const std::string& plan = "free");
    std::optional<Account> account(const std::string& email) const;
    void setCredits(const std::string& email, std::int64_t credits);
    void setPlan(const std::string& email, const std::string& plan);
    // A valid refresh token for the account (a session resumed from the keychain).
    std::string issueRefreshToken(const std::string& email);
    // Every access token issued so far answers 401 from now on.
    void expireAccessTokens();
    bool isRefreshTokenValid(const std::string& token) const;

    // The next `times` requests to `path` get this reply instead of the real one.
    void scriptReply(const std::string& path, int status, const std::string& body, int times = 1);
    // Holds every request to `path` this long before answering (to overlap concurrent calls).
    void setDelay(const std::string& path, int milliseconds);

    std::vector<Request> requests() const;
    std::vector<Request> requestsTo(const std::string& path) const;
    int count(const std::string& path) const;

    int enhancePrice = 1;
    int transcribePrice = 2;
    std::string checkoutUrl = "https://checkout.example/pay/cs_test_1";

private:
    struct Reply {
        int status;
        std::string body;
    };
    Reply handle(const Request& r);
    Reply handleLocked(const Request& r);
    std::optional<std::string> bearerEmail(const Request& r) const;
    std::string issueTokensJson(const std::string& email);
    std::string userJson(const Account& a) const;

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    std::map<std::string, Account> accounts_;             // by email
    std::map<std::string, std::string> accessTokens_;     // token -> email
    std::map<std::string, std::string> refreshTokens_;    // token -> email
    std::map<std::string, Reply> idempotent_;             // key -> first reply
    std::map<std::string, std::vector<Reply>> scripted_;  // path -> queued replies
    std::map<std::string, int> delays_;                   // path -> milliseconds
    std::vector<Request> log_;
    int nextId_ = 1;
};

}  // namespace test
