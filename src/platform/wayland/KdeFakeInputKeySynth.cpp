#include "platform/wayland/KdeFakeInputKeySynth.h"

#include "platform/MainQueue.h"
#include "platform/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>

namespace platform {

KdeFakeInputKeySynth::KdeFakeInputKeySynth(WaylandConnection& connection) : connection_(connection) {
    if (!ok()) return;
    // KWin shows these to the user where it asks about the grant.
    org_kde_kwin_fake_input_authenticate(connection_.kdeFakeInput(), "Tovrin", "Pastes dictated text at the cursor");
    connection_.flush();
}

KdeFakeInputKeySynth::~KdeFakeInputKeySynth() { flushAgain_.cancel(); }

bool KdeFakeInputKeySynth::ok() const { return connection_.ok() && connection_.kdeFakeInput() != nullptr; }

bool KdeFakeInputKeySynth::paste() {
    if (!ok()) return false;
    // KDE does not tell which window has the focus, so one chord serves every program: Shift+Insert
    // pastes the clipboard in Qt and GTK fields and in Konsole alike, where Control+V would type ^V
    // into a terminal.
    auto key = [this](unsigned code, bool down) {
        org_kde_kwin_fake_input_keyboard_key(connection_.kdeFakeInput(), code,
                                             down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    };
    key(KEY_LEFTSHIFT, true);
    key(KEY_INSERT, true);
    key(KEY_INSERT, false);
    key(KEY_LEFTSHIFT, false);
    connection_.flush();
    // A full socket keeps the rest of the batch queued: send it shortly, releases included.
    flushAgain_.cancel();
    flushAgain_ = MainQueue::after(0.05, [this] { connection_.flush(); });
    return connection_.ok();
}

}  // namespace platform
