#include "dictation/TextInjector.h"

#include "platform/Pasteboard.h"

TextInjector::TextInjector() = default;
TextInjector::~TextInjector() = default;

void TextInjector::pasteViaClipboard(const std::string& text) { platform::Pasteboard::general().setString(text); }
