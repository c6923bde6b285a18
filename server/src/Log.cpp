#include "server/Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace server {

namespace {

std::mutex g_mutex;

void write(std::FILE* stream, const char* level, const std::string& message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    std::lock_guard lock(g_mutex);
    std::fprintf(stream, "%s.%03dZ %s %s\n", stamp, static_cast<int>(millis), level, message.c_str());
    std::fflush(stream);
}

}  // namespace

void Log::info(const std::string& message) { write(stdout, "info", message); }
void Log::warning(const std::string& message) { write(stderr, "warning", message); }
void Log::error(const std::string& message) { write(stderr, "error", message); }

}  // namespace server
