#include "platform/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <poll.h>

namespace platform {

namespace {

void onSyncDone(void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kSyncListener = {onSyncDone};

}  // namespace

void WaylandConnection::onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                 uint32_t version) {
    auto* self = static_cast<WaylandConnection*>(data);
    self->globals_.note(interface);
    if (!std::strcmp(interface, wl_seat_interface.name) && !self->seat_) {
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (!std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) && !self->virtualKeyboard_) {
        self->virtualKeyboard_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (!std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) && !self->dataControl_) {
        self->dataControl_ = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    } else if (!std::strcmp(interface, org_kde_kwin_fake_input_interface.name) && version >= 4 && !self->fakeInput_) {
        // Version 4 brought keyboard keys.
        self->fakeInput_ =
            static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
    } else if (!std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) && !self->boundToplevels_) {
        // Its listener goes on before the next read: the windows that exist are announced at once.
        self->boundToplevels_ = true;
        self->toplevels_->attach(static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u))));
    }
}

void WaylandConnection::onGlobalRemove(void*, wl_registry*, uint32_t) {}

WaylandConnection::WaylandConnection() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return;
    display_ = wl_display_connect(nullptr);
    if (!display_) return;
    static const wl_registry_listener listener = {&WaylandConnection::onGlobal, &WaylandConnection::onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    // Two round trips: the globals, then what binding them sent. A compositor that does not
    // answer within three seconds is not waited for (a busy KWin has taken more than one).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    if (!roundtrip(deadline) || !roundtrip(deadline)) {
        broken_ = true;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { dispatchArrived(); });
}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    if (!display_) return;
    toplevels_.reset();
    if (dataControl_) zwlr_data_control_manager_v1_destroy(dataControl_);
    if (virtualKeyboard_) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboard_);
    if (fakeInput_) org_kde_kwin_fake_input_destroy(fakeInput_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

bool WaylandConnection::ok() const { return display_ && !broken_; }

void WaylandConnection::flush() {
    if (!ok()) return;
    // A full socket (EAGAIN) keeps the rest queued for the next flush.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) broken_ = true;
}

bool WaylandConnection::readAndDispatch(int timeoutMs) {
    if (!ok()) return false;
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            broken_ = true;
            return false;
        }
    }
    flush();
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    int ready;
    do ready = poll(&p, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready > 0) {
        if (wl_display_read_events(display_) < 0) broken_ = true;
    } else {
        wl_display_cancel_read(display_);
    }
    if (!broken_ && wl_display_dispatch_pending(display_) < 0) broken_ = true;
    if (broken_) {
        std::fprintf(stderr, "Tovrin: the connection to the Wayland compositor is broken\n");
        if (notifier_) notifier_->setEnabled(false);
    }
    return !broken_;
}

void WaylandConnection::dispatchArrived() { readAndDispatch(0); }

bool WaylandConnection::roundtrip(Deadline deadline) {
    if (!ok()) return false;
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    flush();
    while (!done && ok()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        readAndDispatch(static_cast<int>(left.count()));
    }
    // An answer that comes after the deadline goes to nobody.
    wl_callback_destroy(callback);
    return done;
}

}  // namespace platform
