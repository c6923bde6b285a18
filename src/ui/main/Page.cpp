#include "ui/main/Page.h"

namespace pages {

QString rawValue(Page page) {
    switch (page) {
        case Page::home: return "Home";
        case Page::history: return "History";
        case Page::dictionary: return "Dictionary";
        case Page::shortcuts: return "Shortcuts";
        case Page::settings: return "Settings";
    }
    return {};
}

std::optional<Page> fromRawValue(const QString& raw) {
    for (Page p : allCases)
        if (rawValue(p) == raw) return p;
    return std::nullopt;
}

QString symbol(Page page) {
    switch (page) {
        case Page::home: return "house";
        case Page::history: return "clock.arrow.circlepath";
        case Page::dictionary: return "character.book.closed";
        case Page::shortcuts: return "keyboard";
        case Page::settings: return "gearshape";
    }
    return {};
}

}  // namespace pages
