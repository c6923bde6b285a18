#include "state/AppSettings.h"

#include "state/Secrets.h"
#include "state/ProviderModels.h"
#include "platform/App.h"
#include "platform/Defaults.h"
#include "platform/LoginItem.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/TextTools.h"

#include <algorithm>

using platform::Defaults;

namespace {

Defaults& store() { return Defaults::shared(); }

std::string stringOr(const char* key, const std::string& fallback) {
    return store().string(key).value_or(fallback);
}

// Settings read "as an object": the default unless the stored value has the expected type.
bool boolObjectOr(const char* key, bool fallback) {
    auto v = store().object(key);
    if (v && std::holds_alternative<bool>(*v)) return std::get<bool>(*v);
    return fallback;
}

int intObjectOr(const char* key, int fallback) {
    auto v = store().object(key);
    if (v && std::holds_alternative<std::int64_t>(*v)) return static_cast<int>(std::get<std::int64_t>(*v));
    return fallback;
}


}  // namespace

AppSettings& AppSettings::shared() {
    static AppSettings settings;
    return settings;
}

AppSettings::AppSettings() { reload(); }

void AppSettings::reload() {
    provider_ = stringOr("provider", "tovrin");
    language_ = stringOr("lang", "auto");
    aiEnhanceEnabled_ = store().boolean("aiEnhance");
    enhanceProvider_ = stringOr("enhanceProvider", "groq");
    enhanceMode_ = stringOr("enhanceMode", "cleanup");
    customEnhanceInstruction_ = stringOr("customEnhanceInstruction", "");
    sounds_ = boolObjectOr("sounds", true);
    pauseOtherAudio_ = store().boolean("pauseOtherAudio");
    inputDeviceUID_ = stringOr("inputDeviceUID", "");
    pttKeyCode_ = intObjectOr("pttKeyCode", 63);
    cancelKeyCode_ = intObjectOr("cancelKeyCode", 54);
    widgetSize_ = stringOr("widgetSize", "small");
    showInDock_ = boolObjectOr("showInDock", true);
    copyInsteadOfTyping_ = store().boolean("copyOnly");
    applyDictionary_ = boolObjectOr("dictApply", true);
    launchAtLogin_ = platform::ServiceSlot<platform::LoginItem>::isSet() && platform::LoginItem::shared().isEnabled();
}

void AppSettings::setProvider(const std::string& v) {
    provider_ = v;
    store().setString("provider", v);
    emit changed("provider");
}

void AppSettings::setLanguage(const std::string& v) {
    language_ = v;
    store().setString("lang", v);
    emit changed("lang");
}

void AppSettings::setAiEnhanceEnabled(bool v) {
    aiEnhanceEnabled_ = v;
    store().setBool("aiEnhance", v);
    emit changed("aiEnhance");
}

void AppSettings::setEnhanceProvider(const std::string& v) {
    enhanceProvider_ = v;
    store().setString("enhanceProvider", v);
    emit changed("enhanceProvider");
}

void AppSettings::setEnhanceMode(const std::string& v) {
    enhanceMode_ = v;
    store().setString("enhanceMode", v);
    emit changed("enhanceMode");
}

void AppSettings::setCustomEnhanceInstruction(const std::string& v) {
    customEnhanceInstruction_ = v;
    store().setString("customEnhanceInstruction", v);
    emit changed("customEnhanceInstruction");
}

void AppSettings::setSounds(bool v) {
    sounds_ = v;
    store().setBool("sounds", v);
    emit changed("sounds");
}

void AppSettings::setPauseOtherAudio(bool v) {
    pauseOtherAudio_ = v;
    store().setBool("pauseOtherAudio", v);
    emit changed("pauseOtherAudio");
}

void AppSettings::setInputDeviceUID(const std::string& v) {
    inputDeviceUID_ = v;
    store().setString("inputDeviceUID", v);
    emit changed("inputDeviceUID");
}

void AppSettings::setPttKeyCode(int v) {
    pttKeyCode_ = v;
    store().setInt("pttKeyCode", v);
    platform::NotificationCenter::shared().post("wendaro.pttKeyChanged");
    emit changed("pttKeyCode");
}

void AppSettings::setCancelKeyCode(int v) {
    cancelKeyCode_ = v;
    store().setInt("cancelKeyCode", v);
    emit changed("cancelKeyCode");
}

void AppSettings::setWidgetSize(const std::string& v) {
    widgetSize_ = v;
    store().setString("widgetSize", v);
    emit changed("widgetSize");
}

void AppSettings::setShowInDock(bool v) {
    showInDock_ = v;
    store().setBool("showInDock", v);
    if (platform::ServiceSlot<platform::App>::isSet()) platform::App::shared().setRegular(v);
    emit changed("showInDock");
}

void AppSettings::setCopyInsteadOfTyping(bool v) {
    copyInsteadOfTyping_ = v;
    store().setBool("copyOnly", v);
    emit changed("copyOnly");
}

void AppSettings::setApplyDictionary(bool v) {
    applyDictionary_ = v;
    store().setBool("dictApply", v);
    emit changed("dictApply");
}

void AppSettings::setLaunchAtLogin(bool v) {
    launchAtLogin_ = v;
    auto& item = platform::LoginItem::shared();
    const bool ok = v ? item.registerItem() : item.unregisterItem();
    // On failure the toggle shows the real state, without another attempt.
    if (!ok) launchAtLogin_ = item.isEnabled();
    emit changed("launchAtLogin");
}

void AppSettings::setAPIKey(const std::string& key, const std::string& provider) {
    Secrets::set(platform::TextTools::trimmed(key), Secrets::apiKeyAccount(provider));
    emit changed(Secrets::apiKeyAccount(provider));
}

std::string AppSettings::cloudModel(const std::string& provider) const {
    if (auto stored = store().string("model_" + provider)) return *stored;
    if (const auto list = ProviderModels::speech(provider); !list.empty()) return list.front().first;
    return "";
}

std::string AppSettings::enhanceModel(const std::string& provider) const {
    if (auto stored = store().string("enhModel_" + provider)) return *stored;
    if (const auto list = ProviderModels::enhancement(provider); !list.empty()) return list.front().first;
    return "";
}
