// Puts text at the cursor of the front application by way of the clipboard.
#pragma once

#include <string>

class TextInjector {
public:
    TextInjector();
    virtual ~TextInjector();
    virtual void pasteViaClipboard(const std::string& text);
};
