#include "ui/kit/AppIconManager.h"

#include "platform/App.h"
#include "platform/Defaults.h"
#include "platform/DesktopEntry.h"

#include <QtGlobal>

namespace {
constexpr const char* kKey = "appIconStyle";
}

void AppIconManager::apply(AppIconStyle style) {
    platform::Defaults::shared().setString(kKey, style.rawValue());
    if (!setIcons(style)) qWarning("%s", ("[AppIcon] missing bundled icns for " + style.rawValue()).c_str());
}

AppIconStyle AppIconManager::current() {
    const auto stored = platform::Defaults::shared().string(kKey);
    if (!stored) return AppIconStyle::defaultStyle();
    return AppIconStyle::fromRawValue(*stored).value_or(AppIconStyle::defaultStyle());
}

void AppIconManager::applySaved() { setIcons(current()); }

bool AppIconManager::setIcons(AppIconStyle style) {
    const auto path = style.imagePath();
    if (!path) return false;
    // Neither result is acted on: a desktop without a place for the icon keeps its own.
    platform::App::shared().setIconImage(*path);
    platform::DesktopEntry::setIcon(*path);
    return true;
}
