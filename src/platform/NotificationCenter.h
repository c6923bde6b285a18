// Named app-wide announcements ("wendaro.historyChanged", "wendaro.pttKeyChanged").
// Observers run synchronously on the posting thread, which is the main thread by convention.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace platform {

class NotificationCenter {
public:
    using Observer = std::function<void()>;

    static NotificationCenter& shared();

    // Returns a token for removeObserver.
    int addObserver(const std::string& name, Observer observer);
    void removeObserver(int token);
    void post(const std::string& name);

private:
    std::mutex mutex_;
    int next_ = 1;
    std::map<int, std::pair<std::string, Observer>> observers_;
};

}  // namespace platform
