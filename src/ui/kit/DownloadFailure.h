// What a window says when a model download ends without the model: "Download failed: " and the
// reason, or nothing when the download was cancelled.
#pragma once

#include <QString>

#include <exception>
#include <optional>

class DownloadFailure {
public:
    DownloadFailure() = delete;

    // The text for the download's exception; nullopt for a cancelled transfer.
    static std::optional<QString> text(std::exception_ptr failure);
};
