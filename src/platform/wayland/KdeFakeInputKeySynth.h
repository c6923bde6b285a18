// The paste chord through KWin's fake input (org_kde_kwin_fake_input), in KDE Plasma sessions.
//
// KWin offers the interface only to a program whose desktop entry names its executable in Exec=
// and lists the interface in X-KDE-Wayland-Interfaces (see DesktopEntry); elsewhere ok() is
// false and the loader falls back. The chord is Shift+Insert, which Qt and GTK programs and
// Konsole all take as "paste the clipboard" (KDE does not tell us which window has the focus).
// The keys are evdev key codes that KWin runs through its own keymap, so the modifier is a key
// pressed around the other: every key pressed is released again in the same batch of requests,
// which goes out at once, so a chord cut short never leaves Shift down.
#pragma once

#include "platform/KeySynth.h"
#include "platform/Scheduler.h"

namespace platform {

class WaylandConnection;

class KdeFakeInputKeySynth : public KeySynth {
public:
    explicit KdeFakeInputKeySynth(WaylandConnection& connection);
    ~KdeFakeInputKeySynth() override;
    KdeFakeInputKeySynth(const KdeFakeInputKeySynth&) = delete;
    KdeFakeInputKeySynth& operator=(const KdeFakeInputKeySynth&) = delete;

    bool ok() const;
    bool paste() override;

private:
    WaylandConnection& connection_;
    TimerHandle flushAgain_;
};

}  // namespace platform
