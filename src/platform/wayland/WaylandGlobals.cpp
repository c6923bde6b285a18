#include "platform/wayland/WaylandGlobals.h"

#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <poll.h>

namespace platform {

void WaylandGlobals::note(std::string_view name) {
    if (name == "zwp_virtual_keyboard_manager_v1") virtualKeyboard = true;
    else if (name == "zwlr_data_control_manager_v1") dataControl = true;
    else if (name == "zwlr_foreign_toplevel_manager_v1") foreignToplevel = true;
    else if (name == "org_kde_kwin_fake_input") kdeFakeInput = true;
}

namespace {

void onGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    static_cast<WaylandGlobals*>(data)->note(interface);
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kListener = {onGlobal, onGlobalRemove};

void onDone(void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kDoneListener = {onDone};

// A round trip that gives up after `limit`: the caller's thread is not held by a compositor that
// does not answer.
bool answeredWithin(wl_display* display, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &kDoneListener, &done);
    bool failed = wl_display_flush(display) < 0 && errno != EAGAIN;
    while (!done && !failed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) > 0) {
            failed = wl_display_read_events(display) < 0;
        } else {
            wl_display_cancel_read(display);
        }
        if (!failed) failed = wl_display_dispatch_pending(display) < 0;
    }
    wl_callback_destroy(callback);
    return done;
}

}  // namespace

std::optional<WaylandGlobals> WaylandGlobals::query() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return std::nullopt;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return std::nullopt;
    WaylandGlobals found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &found);
    const bool answered = answeredWithin(display, std::chrono::seconds(3));
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) return std::nullopt;
    return found;
}

}  // namespace platform
