// The general clipboard (the CLIPBOARD selection on X11).
#pragma once

#include "platform/ServiceSlot.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Everything the clipboard held at one moment: each format (MIME type) with its bytes.
struct PasteboardSnapshot {
    std::vector<std::pair<std::string, std::string>> items;
    bool empty() const { return items.empty(); }
};

class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Bumped on every change of the clipboard, ours included.
    virtual std::int64_t changeCount() const = 0;
    // Empties the clipboard.
    virtual void clear() = 0;
    // Puts `text` as plain text (replacing everything).
    virtual void setString(const std::string& text) = 0;
    // The plain text held, nullopt when the clipboard holds no text.
    virtual std::optional<std::string> string() const = 0;
    // Every format it holds, and back.
    virtual PasteboardSnapshot snapshot() const = 0;
    virtual void restore(const PasteboardSnapshot& snapshot) = 0;
    // The snapshot, handed to `done` on the main thread, without waiting on another program: a
    // format its owner has not sent within a moment is left out. The default takes it at once.
    virtual void snapshotAsync(std::function<void(PasteboardSnapshot)> done) const { done(snapshot()); }

    static Pasteboard& general() { return ServiceSlot<Pasteboard>::get(); }
    static void setGeneral(Pasteboard* p) { ServiceSlot<Pasteboard>::set(p); }
};

}  // namespace platform
