// The clipboard through QClipboard (the CLIPBOARD selection on X11).
#pragma once

#include "platform/Pasteboard.h"

#include <atomic>
#include <memory>

class QObject;

namespace platform {

class QtPasteboard : public Pasteboard {
public:
    // Needs the application object; counts changes from the moment it is made.
    QtPasteboard();
    ~QtPasteboard() override;
    QtPasteboard(const QtPasteboard&) = delete;
    QtPasteboard& operator=(const QtPasteboard&) = delete;

    // Also counts a change by another client whose announcement has not been read yet.
    std::int64_t changeCount() const override;
    void clear() override;
    void setString(const std::string& text) override;
    std::optional<std::string> string() const override;
    // Every MIME format the clipboard offers with its bytes. An image that exists only as Qt's
    // in-process image is kept as "image/png".
    PasteboardSnapshot snapshot() const override;
    void restore(const PasteboardSnapshot& snapshot) override;

private:
    // Notes who owns the selection after a change of ours (X11 only).
    void noteOurOwnership();

    std::unique_ptr<QObject> context_;
    mutable std::atomic<std::int64_t> count_{0};
    mutable unsigned long ourOwner_ = 0;  // the X window holding the selection for us, 0 for none
};

}  // namespace platform
