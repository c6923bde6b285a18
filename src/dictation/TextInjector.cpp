#include "dictation/TextInjector.h"

#include "platform/KeySynth.h"
#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"

#include <cstdint>

// The restore still to come of the latest paste: what the user's clipboard held, and the change
// count that says our transcript is still on it.
struct TextInjector::Pending {
    bool active = false;
    std::int64_t count = 0;
    platform::PasteboardSnapshot saved;
    std::uint64_t generation = 0;
};

TextInjector::TextInjector() : pending_(std::make_shared<Pending>()) {}
TextInjector::~TextInjector() = default;

bool TextInjector::isBusy() const { return pending_->active; }

void TextInjector::pasteViaClipboard(const std::string& text, std::function<void(bool sent)> done) {
    auto& pasteboard = platform::Pasteboard::general();

    // A second paste before the first one's restore would otherwise save the first transcript as
    // "the user's clipboard" and put that back at the end; keep the user's own content instead.
    platform::PasteboardSnapshot saved = pending_->active && pasteboard.changeCount() == pending_->count
                                             ? pending_->saved
                                             : pasteboard.snapshot();

    pasteboard.clear();
    pasteboard.setString(text);
    const std::int64_t count = pasteboard.changeCount();

    pending_->active = true;
    pending_->count = count;
    pending_->saved = saved;
    const std::uint64_t generation = ++pending_->generation;

    platform::MainQueue::after(pasteDelay, [pending = pending_, saved = std::move(saved), count, generation,
                                            done = std::move(done)] {
        const bool sent = platform::KeySynth::shared().paste();
        if (done) done(sent);
        if (!sent) {
            // Nothing was pasted: the transcript stays on the clipboard for the user to paste.
            if (pending->generation == generation) pending->active = false;
            return;
        }
        platform::MainQueue::after(restoreDelay, [pending, saved, count, generation] {
            if (pending->generation == generation) pending->active = false;
            auto& board = platform::Pasteboard::general();
            // Nothing was there before (the transcript stays), or someone copied meanwhile.
            if (board.changeCount() != count || saved.empty()) return;
            board.restore(saved);
        });
    });
}
