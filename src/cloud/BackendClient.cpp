#include "cloud/BackendClient.h"

#include "cloud/BackendError.h"

BackendClient& BackendClient::shared() {
    static BackendClient client;
    return client;
}

BackendClient::BackendClient() = default;

bool BackendClient::isLoggedIn() const { return false; }
bool BackendClient::hasStoredSession() { return false; }

platform::Task<void> BackendClient::refresh() { co_return; }

platform::Task<WhisperResult> BackendClient::transcribeRemote(std::string, std::string) {
    throw BackendError("no_session", "Not signed in");
    co_return WhisperResult{};
}

platform::Task<std::string> BackendClient::enhanceRemote(std::string, std::string, std::string) {
    throw BackendError("no_session", "Not signed in");
    co_return std::string{};
}
