// Icons for symbol names ("mic", "record.circle.fill", "hourglass", ...): our own SVGs in
// resources/symbols/<name>.svg, with a drawn stand-in when a file is missing.
#pragma once

#include <QIcon>

#include <string>

namespace platform::SymbolIcon {
QIcon icon(const std::string& name);
}
