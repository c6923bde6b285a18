#include "state/WhisperModel.h"

#include "platform/Defaults.h"

#include <QHostAddress>
#include <QUrl>

namespace {

// A mirror is taken only over https, or over plain http to this machine (tests, a local cache):
// model files are programs' input that nobody else on the way may swap.
bool acceptableBase(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == "https") return true;
    if (scheme != "http") return false;
    const QString host = url.host().toLower();
    if (host == "localhost") return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace

const char* WhisperModel::kDefaultDownloadBase = "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/";

std::string WhisperModel::url() const { return downloadBase() + fileName(); }

std::string WhisperModel::downloadBase() {
    if (auto base = platform::Defaults::shared().string(kBaseDefault); base && acceptableBase(*base))
        return base->ends_with('/') ? *base : *base + "/";
    return kDefaultDownloadBase;
}
