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
using Setting = AppSettings::Setting;

namespace {

Defaults& store() { return Defaults::shared(); }

// The name of each setting in the defaults file (the autostart entry keeps launchAtLogin; the
// name only tells it apart). The per-provider ones take the provider's identifier after it.
const char* keyOf(Setting setting) {
    switch (setting) {
    case Setting::provider: return "provider";
    case Setting::language: return "lang";
    case Setting::aiEnhance: return "aiEnhance";
    case Setting::enhanceProvider: return "enhanceProvider";
    case Setting::enhanceMode: return "enhanceMode";
    case Setting::customEnhanceInstruction: return "customEnhanceInstruction";
    case Setting::sounds: return "sounds";
    case Setting::pauseOtherAudio: return "pauseOtherAudio";
    case Setting::inputDevice: return "inputDeviceUID";
    case Setting::pttKey: return "pttKeyCode";
    case Setting::cancelKey: return "cancelKeyCode";
    case Setting::widgetSize: return "widgetSize";
    case Setting::showInDock: return "showInDock";
    case Setting::copyInsteadOfTyping: return "copyOnly";
    case Setting::applyDictionary: return "dictApply";
    case Setting::launchAtLogin: return "launchAtLogin";
    case Setting::cloudModel: return "model_";
    case Setting::enhanceModel: return "enhModel_";
    case Setting::apiKey: break;
    }
    return "";
}

std::string stringOr(Setting setting, const std::string& fallback) {
    return store().string(keyOf(setting)).value_or(fallback);
}

// Settings read "as an object": the default unless the stored value has the expected type.
bool boolObjectOr(Setting setting, bool fallback) {
    auto v = store().object(keyOf(setting));
    if (v && std::holds_alternative<bool>(*v)) return std::get<bool>(*v);
    return fallback;
}

int intObjectOr(Setting setting, int fallback) {
    auto v = store().object(keyOf(setting));
    if (v && std::holds_alternative<std::int64_t>(*v)) return static_cast<int>(std::get<std::int64_t>(*v));
    return fallback;
}

}  // namespace

std::string AppSettings::storedKey(Setting setting, const std::string& provider) {
    switch (setting) {
    case Setting::cloudModel:
    case Setting::enhanceModel: return keyOf(setting) + provider;
    case Setting::apiKey: return Secrets::apiKeyAccount(provider);
    default: return keyOf(setting);
    }
}

AppSettings& AppSettings::shared() {
    static AppSettings settings;
    return settings;
}

AppSettings::AppSettings() { reload(); }

void AppSettings::reload() {
    provider_ = stringOr(Setting::provider, Route::account().stored());
    route_ = Route::parse(provider_);
    language_ = stringOr(Setting::language, "auto");
    aiEnhanceEnabled_ = store().boolean(keyOf(Setting::aiEnhance));
    enhanceProvider_ = stringOr(Setting::enhanceProvider, "groq");
    enhanceMode_ = stringOr(Setting::enhanceMode, "cleanup");
    customEnhanceInstruction_ = stringOr(Setting::customEnhanceInstruction, "");
    sounds_ = boolObjectOr(Setting::sounds, true);
    pauseOtherAudio_ = store().boolean(keyOf(Setting::pauseOtherAudio));
    inputDeviceUID_ = stringOr(Setting::inputDevice, "");
    pttKeyCode_ = intObjectOr(Setting::pttKey, 63);
    cancelKeyCode_ = intObjectOr(Setting::cancelKey, 54);
    widgetSize_ = stringOr(Setting::widgetSize, "small");
    showInDock_ = boolObjectOr(Setting::showInDock, true);
    copyInsteadOfTyping_ = store().boolean(keyOf(Setting::copyInsteadOfTyping));
    applyDictionary_ = boolObjectOr(Setting::applyDictionary, true);
    launchAtLogin_ = platform::ServiceSlot<platform::LoginItem>::isSet() && platform::LoginItem::shared().isEnabled();
}

void AppSettings::setProvider(const std::string& v) {
    provider_ = v;
    route_ = Route::parse(v);
    store().setString(keyOf(Setting::provider), v);
    emit changed(Setting::provider, {});
}

void AppSettings::setLanguage(const std::string& v) {
    language_ = v;
    store().setString(keyOf(Setting::language), v);
    emit changed(Setting::language, {});
}

void AppSettings::setAiEnhanceEnabled(bool v) {
    aiEnhanceEnabled_ = v;
    store().setBool(keyOf(Setting::aiEnhance), v);
    emit changed(Setting::aiEnhance, {});
}

void AppSettings::setEnhanceProvider(const std::string& v) {
    enhanceProvider_ = v;
    store().setString(keyOf(Setting::enhanceProvider), v);
    emit changed(Setting::enhanceProvider, {});
}

void AppSettings::setEnhanceMode(const std::string& v) {
    enhanceMode_ = v;
    store().setString(keyOf(Setting::enhanceMode), v);
    emit changed(Setting::enhanceMode, {});
}

void AppSettings::setCustomEnhanceInstruction(const std::string& v) {
    customEnhanceInstruction_ = v;
    store().setString(keyOf(Setting::customEnhanceInstruction), v);
    emit changed(Setting::customEnhanceInstruction, {});
}

void AppSettings::setSounds(bool v) {
    sounds_ = v;
    store().setBool(keyOf(Setting::sounds), v);
    emit changed(Setting::sounds, {});
}

void AppSettings::setPauseOtherAudio(bool v) {
    pauseOtherAudio_ = v;
    store().setBool(keyOf(Setting::pauseOtherAudio), v);
    emit changed(Setting::pauseOtherAudio, {});
}

void AppSettings::setInputDeviceUID(const std::string& v) {
    inputDeviceUID_ = v;
    store().setString(keyOf(Setting::inputDevice), v);
    emit changed(Setting::inputDevice, {});
}

void AppSettings::setPttKeyCode(int v) {
    pttKeyCode_ = v;
    store().setInt(keyOf(Setting::pttKey), v);
    platform::NotificationCenter::shared().post("wendaro.pttKeyChanged");
    emit changed(Setting::pttKey, {});
}

void AppSettings::setCancelKeyCode(int v) {
    cancelKeyCode_ = v;
    store().setInt(keyOf(Setting::cancelKey), v);
    emit changed(Setting::cancelKey, {});
}

void AppSettings::setWidgetSize(const std::string& v) {
    widgetSize_ = v;
    store().setString(keyOf(Setting::widgetSize), v);
    emit changed(Setting::widgetSize, {});
}

void AppSettings::setShowInDock(bool v) {
    showInDock_ = v;
    store().setBool(keyOf(Setting::showInDock), v);
    if (platform::ServiceSlot<platform::App>::isSet()) platform::App::shared().setRegular(v);
    emit changed(Setting::showInDock, {});
}

void AppSettings::setCopyInsteadOfTyping(bool v) {
    copyInsteadOfTyping_ = v;
    store().setBool(keyOf(Setting::copyInsteadOfTyping), v);
    emit changed(Setting::copyInsteadOfTyping, {});
}

void AppSettings::setApplyDictionary(bool v) {
    applyDictionary_ = v;
    store().setBool(keyOf(Setting::applyDictionary), v);
    emit changed(Setting::applyDictionary, {});
}

void AppSettings::setLaunchAtLogin(bool v) {
    launchAtLogin_ = v;
    auto& item = platform::LoginItem::shared();
    const bool ok = v ? item.registerItem() : item.unregisterItem();
    // On failure the toggle shows the real state, without another attempt.
    if (!ok) launchAtLogin_ = item.isEnabled();
    emit changed(Setting::launchAtLogin, {});
}

void AppSettings::setCloudModel(const std::string& provider, const std::string& model) {
    store().setString(storedKey(Setting::cloudModel, provider), model);
    emit changed(Setting::cloudModel, provider);
}

void AppSettings::setEnhanceModel(const std::string& provider, const std::string& model) {
    store().setString(storedKey(Setting::enhanceModel, provider), model);
    emit changed(Setting::enhanceModel, provider);
}

void AppSettings::setAPIKey(const std::string& key, const std::string& provider) {
    Secrets::set(platform::TextTools::trimmed(key), storedKey(Setting::apiKey, provider));
    emit changed(Setting::apiKey, provider);
}

std::string AppSettings::cloudModel(const std::string& provider) const {
    if (auto stored = store().string(storedKey(Setting::cloudModel, provider))) return *stored;
    if (const auto list = ProviderModels::speech(provider); !list.empty()) return list.front().first;
    return "";
}

std::string AppSettings::enhanceModel(const std::string& provider) const {
    if (auto stored = store().string(storedKey(Setting::enhanceModel, provider))) return *stored;
    if (const auto list = ProviderModels::enhancement(provider); !list.empty()) return list.front().first;
    return "";
}
