#include "engine/ModelManager.h"

#include "state/AppError.h"
#include "state/FailureText.h"
#include "platform/Defaults.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <speech/Recognizer.h>

#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kActiveModelKey = "activeModel";
constexpr const char* kDefaultModel = "large-v3-turbo";
bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

AppError couldNotSave() { return AppError(2, "Could not save model"); }
AppError incomplete() { return AppError(2, "the file is incomplete"); }

// The transfer must have delivered exactly what the host announced, and a whole model file:
// the ggml magic and exactly the size that the header's tensor shapes require.
void verifyDownload(const platform::HttpResponse& response, const std::string& path) {
    if (response.status != 200) throw AppError(2, "the host answered HTTP " + std::to_string(response.status));
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) throw couldNotSave();
    const std::string length = response.header("Content-Length");
    const std::string encoding = response.header("Content-Encoding");
    if (!length.empty() && (encoding.empty() || encoding == "identity")) {
        std::uintmax_t announced = 0;
        auto [ptr, err] = std::from_chars(length.data(), length.data() + length.size(), announced);
        if (err != std::errc() || ptr != length.data() + length.size() || announced != size) throw incomplete();
    }
    const speech::ModelFileCheck check = speech::checkModelFile(path);
    if (check.verdict == speech::ModelFileCheck::Verdict::NotAModel) throw AppError(2, "the host sent no model file");
    if (check.verdict != speech::ModelFileCheck::Verdict::Whole) throw incomplete();
}

}  // namespace

ModelManager& ModelManager::shared() {
    static ModelManager manager;
    return manager;
}

const std::vector<WhisperModel>& ModelManager::catalog() {
    static const std::vector<WhisperModel> models = {
        {"tiny", "Tiny", 75, "Fastest, lowest accuracy"},
        {"base", "Base", 148, "Fast, light — quick notes"},
        {"small", "Small", 488, "Balanced quality and speed"},
        {"medium", "Medium", 1530, "High accuracy"},
        {"large-v3-turbo", "Large v3 Turbo", 1550, "Best speed/accuracy — needs 16GB+ RAM"},
        {"large-v3", "Large v3", 3100, "Highest accuracy, slower"},
    };
    return models;
}

std::optional<WhisperModel> ModelManager::model(const std::string& id) {
    for (const auto& m : catalog())
        if (m.id == id) return m;
    return std::nullopt;
}

ModelManager::ModelManager() { reload(); }

void ModelManager::reload() {
    modelsDir_ = platform::Paths::applicationSupport() + "/Wendaro/models";
    legacyDir_ = platform::Paths::applicationSupport() + "/whisper-models";
    platform::Paths::makePrivateFolder(modelsDir_);
    removeLeftovers();
    checked_.clear();
    activeModelID_ = platform::Defaults::shared().string(kActiveModelKey).value_or(kDefaultModel);
    downloading_.reset();
    progress_ = 0;
    rescan();
}

void ModelManager::removeLeftovers() {
    // Transfers that an earlier run did not finish: ".ggml-<id>.bin.download".
    std::error_code ec;
    for (fs::directory_iterator it(modelsDir_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 10 && name.rfind(".ggml-", 0) == 0 && name.ends_with(".download")) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

void ModelManager::setActiveModelID(const std::string& id) {
    activeModelID_ = id;
    platform::Defaults::shared().setString(kActiveModelKey, id);
    emit changed();
}

bool ModelManager::isWholeModel(const std::string& path) const {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return false;
    const auto modified = fs::last_write_time(path, ec);
    if (ec) return false;
    auto& known = checked_[path];
    if (!known || known->size != size || known->modified != modified)
        known = CheckedFile{size, modified, speech::checkModelFile(path).verdict == speech::ModelFileCheck::Verdict::Whole};
    return known->whole;
}

std::optional<std::string> ModelManager::resolvedPath(const WhisperModel& model) const {
    const std::string name = model.fileName();
    for (const std::string& dir : {modelsDir_, legacyDir_, platform::Paths::resources() + "/models"}) {
        const std::string path = dir + "/" + name;
        // A damaged file (a truncated download of an older version) is passed over as if absent.
        if (fileExists(path) && isWholeModel(path)) return path;
    }
    return std::nullopt;
}

std::optional<std::string> ModelManager::resolvedActivePath() const {
    const auto active = model(activeModelID_);
    if (!active) return std::nullopt;
    return resolvedPath(*active);
}

void ModelManager::rescan() {
    std::set<std::string> found;
    for (const auto& m : catalog())
        if (resolvedPath(m)) found.insert(m.id);
    installed_ = std::move(found);
    if (!resolvedActivePath()) {
        const auto& models = catalog();
        for (auto it = models.rbegin(); it != models.rend(); ++it) {
            if (installed_.count(it->id)) {
                setActiveModelID(it->id);
                return;
            }
        }
    }
    emit changed();
}

platform::Task<void> ModelManager::download(WhisperModel model) {
    if (downloading_) co_return;
    downloading_ = model.id;
    progress_ = 0;
    emit changed();

    // The transfer goes to a hidden file beside the destination and is moved into place only
    // once it is complete, so a broken transfer never replaces or poses as a model.
    const std::string destination = modelsDir_ + "/" + model.fileName();
    const std::string partial = modelsDir_ + "/." + model.fileName() + ".download";
    std::exception_ptr failure;
    try {
        platform::Paths::makePrivateFolder(modelsDir_);
        if (!std::ofstream(partial, std::ios::binary | std::ios::trunc)) throw couldNotSave();
        auto session = platform::Http::create(60);
        platform::HttpRequest request;
        request.url = model.url();
        const platform::HttpResponse response =
            co_await session->download(request, partial, [this](std::int64_t received, std::int64_t total) {
                if (total >= 1) {
                    progress_ = static_cast<double>(received) / static_cast<double>(total);
                    emit changed();
                }
            });
        verifyDownload(response, partial);
        std::error_code ec;
        fs::rename(partial, destination, ec);
        if (ec) throw couldNotSave();
    } catch (...) {
        failure = std::current_exception();
        qCWarning(logEngine, "the download of model %s failed: %s", model.id.c_str(),
                  FailureText::forLog(failure).c_str());
    }
    if (failure) {
        std::error_code ec;
        fs::remove(partial, ec);
        downloading_.reset();
        emit changed();
        std::rethrow_exception(failure);
    }
    rescan();
    setActiveModelID(model.id);
    downloading_.reset();
    emit changed();
}
