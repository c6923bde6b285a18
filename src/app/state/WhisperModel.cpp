#include "app/state/WhisperModel.h"

#include <mutex>

namespace {
std::mutex g_mutex;
std::string g_base;
}  // namespace

const char* WhisperModel::kDefaultDownloadBase = "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/";

std::string WhisperModel::url() const { return downloadBase() + fileName(); }

std::string WhisperModel::downloadBase() {
    std::lock_guard lock(g_mutex);
    return g_base.empty() ? std::string(kDefaultDownloadBase) : g_base;
}

void WhisperModel::setDownloadBase(const std::string& base) {
    std::lock_guard lock(g_mutex);
    g_base = base;
}
