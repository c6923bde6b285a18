// Puts text at the cursor of the front application by way of the clipboard: once the clipboard's
// content has been read (without waiting long on another program), the text goes on the
// clipboard, the paste chord follows 0.05 s later, and 0.6 s after that the clipboard gets back
// everything it held before (every format), unless someone changed it in the meantime. When the
// chord cannot be sent (no way to send keys in this session), the text stays on the clipboard for
// the user to paste. Control characters never reach the target; in a terminal, line breaks become
// spaces.
#pragma once

#include <functional>
#include <memory>
#include <string>

class TextInjector {
public:
    static constexpr double pasteDelay = 0.05;
    static constexpr double restoreDelay = 0.6;

    TextInjector();
    virtual ~TextInjector();
    TextInjector(const TextInjector&) = delete;
    TextInjector& operator=(const TextInjector&) = delete;

    // Returns at once; the paste and the restore run later on the main queue, whether or not this
    // object still exists by then. `done` learns, once the chord was due, whether it was sent.
    virtual void pasteViaClipboard(const std::string& text, std::function<void(bool sent)> done = {});
    // A paste is under way: its chord not yet sent, or the clipboard not yet given back.
    bool isBusy() const;

private:
    struct Pending;
    std::shared_ptr<Pending> pending_;
};
