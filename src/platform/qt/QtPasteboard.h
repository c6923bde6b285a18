// The clipboard through QClipboard (the CLIPBOARD selection on X11).
#pragma once

#include "platform/Pasteboard.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

namespace platform {

class QtPasteboard : public Pasteboard {
public:
    // Reads another client's clipboard, blocking, with a deadline of its own; run on a worker thread.
    using ForeignReader = std::function<PasteboardSnapshot()>;

    // Needs the application object; counts changes from the moment it is made. Without a
    // `foreignReader`, snapshotAsync reads another client's clipboard through Qt, on the main thread.
    explicit QtPasteboard(ForeignReader foreignReader = {});
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
    // Our own clipboard is taken at once; another client's is read by the foreign reader on a
    // worker thread, so a slow or silent owner never holds up the main thread.
    void snapshotAsync(std::function<void(PasteboardSnapshot)> done) const override;

private:
    // Notes who owns the selection after a change of ours (X11 only).
    void noteOurOwnership();

    ForeignReader foreignReader_;
    // The reads still running or finished but not yet joined; joined at the latest on destruction.
    mutable std::mutex readersMutex_;
    struct Reader {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    mutable std::vector<Reader> readers_;
    std::unique_ptr<QObject> context_;
    mutable std::atomic<std::int64_t> count_{0};
    mutable unsigned long ourOwner_ = 0;  // the X window holding the selection for us, 0 for none
};

}  // namespace platform
