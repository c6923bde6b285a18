#include "dictation/TextInjector.h"

#include "platform/KeySynth.h"
#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"
#include "platform/TextTools.h"

#include <cstdint>

// The restore still to come of the latest paste: what the user's clipboard held, and the change
// count that says our transcript is still on it.
struct TextInjector::Pending {
    bool active = false;
    std::int64_t count = 0;
    platform::PasteboardSnapshot saved;
    std::uint64_t generation = 0;
    // Clipboard reads still out, whose transcript is yet to go on.
    int reading = 0;
};

TextInjector::TextInjector() : pending_(std::make_shared<Pending>()) {}
TextInjector::~TextInjector() = default;

bool TextInjector::isBusy() const { return pending_->active || pending_->reading > 0; }

void TextInjector::pasteViaClipboard(const std::string& transcript, std::function<void(bool sent)> done) {
    const std::string text = platform::KeySynth::shared().targetIsTerminal()
                                 ? platform::TextTools::forTerminal(transcript)
                                 : platform::TextTools::withoutControls(transcript);
    auto& pasteboard = platform::Pasteboard::general();
    auto pending = pending_;

    // The user's clipboard is read without waiting on its owner; the transcript goes on once it
    // has been read (or given up on), and the restore puts back what was read.
    auto put = [pending, text, done = std::move(done)](platform::PasteboardSnapshot saved) mutable {
        auto& board = platform::Pasteboard::general();
        board.clear();
        board.setString(text);
        const std::int64_t count = board.changeCount();

        pending->active = true;
        pending->count = count;
        pending->saved = saved;
        const std::uint64_t generation = ++pending->generation;

        platform::MainQueue::after(pasteDelay, [pending, saved = std::move(saved), count, generation,
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
    };

    // A second paste before the first one's restore would otherwise save the first transcript as
    // "the user's clipboard" and put that back at the end; keep the user's own content instead.
    if (pending_->active && pasteboard.changeCount() == pending_->count) {
        put(pending_->saved);
    } else {
        ++pending_->reading;
        pasteboard.snapshotAsync([pending, put = std::move(put)](platform::PasteboardSnapshot saved) mutable {
            --pending->reading;
            put(std::move(saved));
        });
    }
}
