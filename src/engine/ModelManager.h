// The on-device model files: the catalogue, which models are on disk, the active model, and
// downloads (one at a time, with progress).
#pragma once

#include "state/WhisperModel.h"
#include "platform/Task.h"

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class ModelManager : public QObject {
    Q_OBJECT
public:
    static ModelManager& shared();

    // The six models, smallest first.
    static const std::vector<WhisperModel>& catalog();
    // The catalogue entry with that id, nullopt when there is none.
    static std::optional<WhisperModel> model(const std::string& id);

    // Ids of the installed models.
    const std::set<std::string>& installed() const { return installed_; }
    // Id of the model being downloaded, nullopt when idle.
    const std::optional<std::string>& downloading() const { return downloading_; }
    // Fraction 0…1 of the running download (stays 0 when the host sends no length).
    double progress() const { return progress_; }

    const std::string& activeModelID() const { return activeModelID_; }
    // Changes the active model and stores it in the "activeModel" setting.
    void setActiveModelID(const std::string& id);

    // Where downloads go: Application Support/Wendaro/models.
    const std::string& modelsDir() const { return modelsDir_; }
    // An older location that is only searched: Application Support/whisper-models.
    const std::string& legacyDir() const { return legacyDir_; }

    // The model's file: the models folder, then the legacy folder, then the bundle's
    // resources/models; the first that exists and holds a whole model file wins.
    std::optional<std::string> resolvedPath(const WhisperModel& model) const;
    std::optional<std::string> resolvedActivePath() const;

    // Recomputes `installed`; when the active model is not on disk, the largest installed model
    // becomes active.
    void rescan();

    // Downloads and installs one model and makes it active. Returns at once while another
    // download runs. Throws the transfer's HttpError, or AppError 2: "the host answered HTTP <n>",
    // "the file is incomplete" (shorter than announced or than its header requires), "the host
    // sent no model file", or "Could not save model" when it could not be written or moved.
    // A file that fails is removed; nothing is installed or made active.
    platform::Task<void> download(WhisperModel model);

signals:
    // Fires after installed, downloading, progress or activeModelID changed.
    void changed();

public:

    // Reads the folders and the stored active model again, removing the partial files of
    // unfinished downloads (at start; tests change the environment).
    void reload();

private:
    ModelManager();
    void removeLeftovers();
    bool isWholeModel(const std::string& path) const;

    struct CheckedFile {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        bool whole = false;
    };
    mutable std::map<std::string, std::optional<CheckedFile>> checked_;  // verdicts by path

    std::set<std::string> installed_;
    std::optional<std::string> downloading_;
    double progress_ = 0;
    std::string activeModelID_;
    std::string modelsDir_;
    std::string legacyDir_;
};
