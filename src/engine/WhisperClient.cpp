#include "engine/WhisperClient.h"

#include "app/AppError.h"

WhisperClient::WhisperClient() = default;
WhisperClient::~WhisperClient() = default;

platform::Task<WhisperResult> WhisperClient::transcribe(std::string, std::string) {
    throw AppError(-1, "Engine error");
    co_return WhisperResult{};
}

platform::Task<bool> WhisperClient::isHealthy() { co_return false; }
