#include "platform/wayland/WaylandGlobals.h"

#include <wayland-client.h>

#include <cstdlib>

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

}  // namespace

std::optional<WaylandGlobals> WaylandGlobals::query() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return std::nullopt;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return std::nullopt;
    WaylandGlobals found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &found);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) return std::nullopt;
    return found;
}

}  // namespace platform
