// The compositor's windows as zwlr_foreign_toplevel_manager_v1 lists them, kept up to date from
// its events: which one is active, and its app_id.
#pragma once

#include <map>
#include <string>

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace platform {

class WaylandToplevels {
public:
    WaylandToplevels() = default;
    ~WaylandToplevels();
    WaylandToplevels(const WaylandToplevels&) = delete;
    WaylandToplevels& operator=(const WaylandToplevels&) = delete;

    // Follows the windows of a manager just bound (before any of its events is handled) and
    // owns it from then on.
    void attach(zwlr_foreign_toplevel_manager_v1* manager);

    // The app_id of the active (focused) window as of the events handled so far; empty when
    // none is active or the compositor does not tell.
    std::string activeAppId() const;

    struct Window {
        std::string appId, pendingAppId;
        bool active = false, pendingActive = false;
    };

private:
    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                           zwlr_foreign_toplevel_handle_v1* handle);
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);

    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    bool finished_ = false;
    std::map<zwlr_foreign_toplevel_handle_v1*, Window> windows_;
};

}  // namespace platform
