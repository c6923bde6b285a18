#include "platform/wayland/WaylandToplevels.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

namespace platform {

namespace {

using Windows = std::map<zwlr_foreign_toplevel_handle_v1*, WaylandToplevels::Window>;

WaylandToplevels::Window* windowOf(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto& windows = *static_cast<Windows*>(data);
    auto it = windows.find(handle);
    return it == windows.end() ? nullptr : &it->second;
}

void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void onAppId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId) {
    if (auto* w = windowOf(data, handle)) w->pendingAppId = appId ? appId : "";
}
void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void onState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
    auto* w = windowOf(data, handle);
    if (!w) return;
    w->pendingActive = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
        if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) w->pendingActive = true;
}
void onDone(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    if (auto* w = windowOf(data, handle)) {
        w->appId = w->pendingAppId;
        w->active = w->pendingActive;
    }
}
void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<Windows*>(data)->erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}
void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent,
};

}  // namespace

void WaylandToplevels::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                  zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<WaylandToplevels*>(data);
    self->windows_[handle];
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, &self->windows_);
}

void WaylandToplevels::onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<WaylandToplevels*>(data)->finished_ = true;
}

void WaylandToplevels::attach(zwlr_foreign_toplevel_manager_v1* manager) {
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {&WaylandToplevels::onToplevel,
                                                                        &WaylandToplevels::onFinished};
    manager_ = manager;
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &listener, this);
}

WaylandToplevels::~WaylandToplevels() {
    for (auto& [handle, window] : windows_) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (!manager_) return;
    if (!finished_) zwlr_foreign_toplevel_manager_v1_stop(manager_);
    zwlr_foreign_toplevel_manager_v1_destroy(manager_);
}

std::string WaylandToplevels::activeAppId() const {
    for (const auto& [handle, window] : windows_)
        if (window.active) return window.appId;
    return {};
}

}  // namespace platform
