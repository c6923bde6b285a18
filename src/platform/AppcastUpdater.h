// Updates from an appcast feed: RSS items carrying a version and a download link.
#pragma once

#include "platform/Task.h"
#include "platform/Updater.h"

#include <optional>
#include <string>

namespace platform {

struct AppcastItem {
    std::string version;
    std::string downloadUrl;
};

class AppcastUpdater : public Updater {
public:
    // `feedUrl`: where the feed lives (deployment configuration).
    explicit AppcastUpdater(std::string feedUrl);
    void checkForUpdates() override;

    // The newest item of a feed that is newer than `currentVersion`, if any.
    static std::optional<AppcastItem> newestNewer(const std::string& feedXml, const std::string& currentVersion);
    // Compares dotted version strings numerically: negative, zero or positive.
    static int compareVersions(const std::string& a, const std::string& b);

private:
    Task<> check();
    std::string feedUrl_;
    bool checking_ = false;
};

}  // namespace platform
