#!/usr/bin/python3
# The window of "another program" built with GTK for the end-to-end tests: one text entry with
# keyboard focus, titled "e2e target". Every change of its text is written to OUTPUT (replaced
# atomically), every key (modifiers aside) the entry receives is appended to OUTPUT.keys by name,
# and so is "ContextMenu" when its context menu opens; each key released over it goes to
# OUTPUT.keys.releases; OUTPUT.ready appears once it has focus.
# Usage: gtk_target.py OUTPUT
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

MODIFIERS = {
    "Shift_L", "Shift_R", "Control_L", "Control_R", "Alt_L", "Alt_R", "Super_L", "Super_R",
    "Meta_L", "Meta_R", "ISO_Level3_Shift", "Mode_switch", "Caps_Lock", "Num_Lock",
}


def write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def append(path, text):
    with open(path, "a", encoding="utf-8") as f:
        f.write(text)


def main():
    if len(sys.argv) < 2:
        print("usage: gtk_target.py OUTPUT", file=sys.stderr)
        return 2
    out = sys.argv[1]
    window = Gtk.Window(title="e2e target")
    window.move(400, 300)
    window.set_default_size(1100, 500)
    entry = Gtk.Entry()
    window.add(entry)

    def logger(path):
        def on_key(_widget, event):
            name = Gdk.keyval_name(event.keyval) or str(event.keyval)
            if name not in MODIFIERS:
                append(path, name + "\n")
            return False
        return on_key

    entry.connect("changed", lambda e: write(out, e.get_text()))
    entry.connect("key-press-event", logger(out + ".keys"))
    entry.connect("key-release-event", logger(out + ".keys.releases"))
    entry.connect("populate-popup", lambda _e, _menu: append(out + ".keys", "ContextMenu\n"))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()

    def take_focus():
        window.present()
        entry.grab_focus()
        if entry.has_focus() and window.is_active():
            write(out + ".ready", "ready")
            return False
        return True

    GLib.timeout_add(20, take_focus)
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
