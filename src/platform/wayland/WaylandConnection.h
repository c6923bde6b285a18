// The program's one connection to the Wayland compositor, shared by the Wayland backends: the
// globals they use, bound once, and the compositor's events handled on the main thread as they
// arrive (a socket notifier on the connection, no thread of its own).
#pragma once

#include "platform/wayland/WaylandGlobals.h"
#include "platform/wayland/WaylandToplevels.h"

#include <chrono>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_data_control_manager_v1;
struct org_kde_kwin_fake_input;
class QSocketNotifier;

namespace platform {

class WaylandConnection {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    // Connects to the compositor of WAYLAND_DISPLAY and binds the globals; ok() tells whether it
    // answered. Events are handled from the run loop once it runs (needs the application object).
    WaylandConnection();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    bool ok() const;
    const WaylandGlobals& globals() const { return globals_; }
    wl_display* display() const { return display_; }
    wl_seat* seat() const { return seat_; }
    zwp_virtual_keyboard_manager_v1* virtualKeyboardManager() const { return virtualKeyboard_; }
    zwlr_data_control_manager_v1* dataControlManager() const { return dataControl_; }
    // KWin's fake input (version 4 or later), offered only to programs its desktop entry names.
    org_kde_kwin_fake_input* kdeFakeInput() const { return fakeInput_; }
    // The windows, as far as the compositor tells (zwlr_foreign_toplevel_manager_v1).
    const WaylandToplevels& toplevels() const { return *toplevels_; }

    // Sends the requests queued so far.
    void flush();
    // Reads and handles the events that have arrived, without waiting for more.
    void dispatchArrived();
    // Waits until the compositor has answered every request sent so far, handling the events
    // that come meanwhile, but not past `deadline`. False on time-out or a broken connection.
    bool roundtrip(Deadline deadline);

private:
    // Reads what arrives within `timeoutMs` (0: only what is there) and handles it.
    bool readAndDispatch(int timeoutMs);
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, uint32_t name);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* virtualKeyboard_ = nullptr;
    zwlr_data_control_manager_v1* dataControl_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    std::unique_ptr<WaylandToplevels> toplevels_ = std::make_unique<WaylandToplevels>();
    bool boundToplevels_ = false;
    WaylandGlobals globals_;
    bool broken_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
