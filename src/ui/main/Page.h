// The main window's pages in sidebar order. Each page's raw value is the title the sidebar shows.
#pragma once

#include <QString>

#include <array>
#include <optional>

enum class Page { home, history, dictionary, shortcuts, settings };

namespace pages {

// Every page in declaration order, which is also the sidebar order.
inline constexpr std::array<Page, 5> allCases{Page::home, Page::history, Page::dictionary, Page::shortcuts,
                                              Page::settings};

// "Home", "History", "Dictionary", "Shortcuts", "Settings".
QString rawValue(Page page);
// The page whose title is exactly `raw`; nullopt for anything else.
std::optional<Page> fromRawValue(const QString& raw);
// The sidebar symbol of the page.
QString symbol(Page page);

}  // namespace pages
