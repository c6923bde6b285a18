#include "platform/wayland/VirtualKeyboardKeySynth.h"

#include "platform/MainQueue.h"
#include "platform/TerminalApps.h"
#include "platform/wayland/WaylandConnection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

// The evdev code of the key that gives `keysym` on the first level of the first layout; 0 if none.
unsigned evdevCodeOf(xkb_keymap* keymap, xkb_keysym_t keysym) {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms);
        for (int i = 0; i < n; ++i)
            if (syms[i] == keysym && code >= 8) return code - 8;
    }
    return 0;
}

std::uint32_t nowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

VirtualKeyboardKeySynth::VirtualKeyboardKeySynth(WaylandConnection& connection, double settle)
    : connection_(connection) {
    if (!connection_.ok() || !connection_.virtualKeyboardManager() || !connection_.seat()) return;
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context_) return;
    // The user's layout as XKB_DEFAULT_* name it, else the system's default: every key of it.
    keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap_) return;
    state_ = xkb_state_new(keymap_);
    control_ = evdevCodeOf(keymap_, XKB_KEY_Control_L);
    shift_ = evdevCodeOf(keymap_, XKB_KEY_Shift_L);
    v_ = evdevCodeOf(keymap_, XKB_KEY_v);
    char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!state_ || !text || !control_ || !shift_ || !v_) {
        std::free(text);
        return;
    }
    const size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("tovrin-keymap", MFD_CLOEXEC);
    bool written = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (written) {
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        written = map != MAP_FAILED;
        if (written) {
            std::memcpy(map, text, size);
            munmap(map, size);
        }
    }
    std::free(text);
    if (!written) {
        if (fd >= 0) ::close(fd);
        return;
    }
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(connection_.virtualKeyboardManager(),
                                                                        connection_.seat());
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    connection_.flush();
    ::close(fd);  // the request carries a copy of it
    settleTimer_ = MainQueue::after(settle, [this] {
        settled_ = true;
        if (chordWaiting_) {
            chordWaiting_ = false;
            sendChord(waitingForTerminal_);
        }
    });
}

VirtualKeyboardKeySynth::~VirtualKeyboardKeySynth() {
    settleTimer_.cancel();
    if (keyboard_) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
        connection_.flush();
    }
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
}

bool VirtualKeyboardKeySynth::paste() {
    if (!keyboard_ || !connection_.ok()) return false;
    // The active window as of the latest events.
    connection_.dispatchArrived();
    const bool terminal = targetIsTerminal();
    if (!settled_) {
        chordWaiting_ = true;
        waitingForTerminal_ = terminal;
        return true;
    }
    sendChord(terminal);
    return connection_.ok();
}

void VirtualKeyboardKeySynth::key(unsigned code, bool down) {
    zwp_virtual_keyboard_v1_key(keyboard_, nowMs(), code,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(state_, code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
}

// The whole chord goes out in one flush: no modifier can be left down by a chord cut short.
bool VirtualKeyboardKeySynth::targetIsTerminal() const {
    return TerminalApps::contains(connection_.toplevels().activeAppId());
}

void VirtualKeyboardKeySynth::sendChord(bool terminal) {
    if (!keyboard_ || !connection_.ok()) return;
    key(control_, true);
    if (terminal) key(shift_, true);
    key(v_, true);
    key(v_, false);
    if (terminal) key(shift_, false);
    key(control_, false);
    connection_.flush();
}

}  // namespace platform
