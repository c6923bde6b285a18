#include "ui/kit/DownloadFailure.h"

#include "platform/Http.h"

std::optional<QString> DownloadFailure::text(std::exception_ptr failure) {
    if (!failure) return std::nullopt;
    // Only the words shown: the model manager logged the failure where it happened.
    try {
        std::rethrow_exception(failure);
    } catch (const platform::HttpError& e) {
        if (e.kind() == platform::HttpError::Kind::Cancelled) return std::nullopt;
        return "Download failed: " + QString::fromStdString(e.what());
    } catch (const std::exception& e) {
        return "Download failed: " + QString::fromStdString(e.what());
    } catch (...) {
        return QStringLiteral("Download failed: Unknown error");
    }
}
