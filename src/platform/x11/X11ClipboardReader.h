// Reads everything another client holds on the CLIPBOARD selection through a connection of its
// own, with one deadline for the whole read. Meant for a worker thread: an owner that answers
// slowly, or never, holds up nobody but the caller, and only until the deadline.
#pragma once

#include "platform/Pasteboard.h"

#include <string>

namespace platform {

class X11ClipboardReader {
public:
    // Every MIME format the owner offers, with its bytes, in the owner's order; the text offered
    // only as UTF8_STRING (or Latin-1 STRING) comes as "text/plain" in UTF-8. A format whose data
    // has not arrived `seconds` after the call is left out; the others are kept. All formats are
    // asked for at once, so one that is never sent does not hold up the rest.
    // Empty when nobody owns the clipboard or the display cannot be opened.
    // Safe on any thread once prepare() has run.
    static PasteboardSnapshot read(const std::string& displayName, double seconds);

    // Installs, once, the error handler that keeps a reader's protocol errors from ending the
    // program. Call it on the main thread before the first read on another.
    static void prepare();
};

}  // namespace platform
