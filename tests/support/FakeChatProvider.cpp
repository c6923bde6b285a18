#include "support/FakeChatProvider.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <stdexcept>

namespace test {

std::string FakeChatProvider::Request::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

FakeChatProvider::FakeChatProvider() : server_(std::make_unique<httplib::Server>()) {
    setContent("ok");
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Request r{req.method, req.path, {}, req.body};
        for (const auto& [k, v] : req.headers) r.headers.emplace(k, v);
        std::lock_guard lock(mutex_);
        log_.push_back(std::move(r));
        res.status = status_;
        res.set_content(body_, "application/json");
    };
    server_->Post(R"(/.*)", handler);
    server_->Get(R"(/.*)", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("fake chat provider: cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeChatProvider::~FakeChatProvider() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string FakeChatProvider::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void FakeChatProvider::setReply(int status, const std::string& body) {
    std::lock_guard lock(mutex_);
    status_ = status;
    body_ = body;
}

void FakeChatProvider::setContent(const std::string& content) {
    nlohmann::json reply = {{"id", "chatcmpl-1"},
                            {"object", "chat.completion"},
                            {"choices", {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", content}}}}}}};
    setReply(200, reply.dump());
}

std::vector<FakeChatProvider::Request> FakeChatProvider::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

}  // namespace test
