// Puts text at the cursor of the front application by way of the clipboard: once the clipboard's
// content has been read (without waiting long on another program), the text goes on the
// clipboard, the paste chord follows 0.05 s later, and 0.6 s after that the clipboard gets back
// everything it held before (every format), unless someone changed it in the meantime. Control
// characters never reach the target; in a terminal, line breaks become spaces.
#pragma once

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
    // object still exists by then.
    virtual void pasteViaClipboard(const std::string& text);

private:
    struct Pending;
    std::shared_ptr<Pending> pending_;
};
