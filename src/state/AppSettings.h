// Every user setting, persisted in the defaults store and read at the moment of use.
#pragma once

#include "state/Route.h"

#include <QObject>

#include <cstdint>
#include <string>

class AppSettings : public QObject {
    Q_OBJECT
public:
    // What a change notice names. The last three are kept per provider: the notice carries the
    // provider's identifier with them.
    enum class Setting {
        provider,
        language,
        aiEnhance,
        enhanceProvider,
        enhanceMode,
        customEnhanceInstruction,
        sounds,
        pauseOtherAudio,
        inputDevice,
        pttKey,
        cancelKey,
        widgetSize,
        showInDock,
        copyInsteadOfTyping,
        applyDictionary,
        launchAtLogin,
        cloudModel,
        enhanceModel,
        apiKey,
    };
    Q_ENUM(Setting)

    static AppSettings& shared();

    // The name the setting is stored under ("lang", "model_groq", the keychain's "groqApiKey").
    static std::string storedKey(Setting setting, const std::string& provider = {});

    const std::string& provider() const { return provider_; }
    // The "provider" setting, parsed.
    const Route& route() const { return route_; }
    const std::string& language() const { return language_; }
    bool aiEnhanceEnabled() const { return aiEnhanceEnabled_; }
    const std::string& enhanceProvider() const { return enhanceProvider_; }
    const std::string& enhanceMode() const { return enhanceMode_; }
    const std::string& customEnhanceInstruction() const { return customEnhanceInstruction_; }
    bool sounds() const { return sounds_; }
    bool pauseOtherAudio() const { return pauseOtherAudio_; }
    const std::string& inputDeviceUID() const { return inputDeviceUID_; }
    int pttKeyCode() const { return pttKeyCode_; }
    int cancelKeyCode() const { return cancelKeyCode_; }
    const std::string& widgetSize() const { return widgetSize_; }
    bool showInDock() const { return showInDock_; }
    bool copyInsteadOfTyping() const { return copyInsteadOfTyping_; }
    bool applyDictionary() const { return applyDictionary_; }
    bool launchAtLogin() const { return launchAtLogin_; }

    void setProvider(const std::string& v);
    void setLanguage(const std::string& v);
    void setAiEnhanceEnabled(bool v);
    void setEnhanceProvider(const std::string& v);
    void setEnhanceMode(const std::string& v);
    void setCustomEnhanceInstruction(const std::string& v);
    void setSounds(bool v);
    void setPauseOtherAudio(bool v);
    void setInputDeviceUID(const std::string& v);
    void setPttKeyCode(int v);
    void setCancelKeyCode(int v);
    void setWidgetSize(const std::string& v);
    void setShowInDock(bool v);
    void setCopyInsteadOfTyping(bool v);
    void setApplyDictionary(bool v);
    void setLaunchAtLogin(bool v);
    void setCloudModel(const std::string& provider, const std::string& model);
    void setEnhanceModel(const std::string& provider, const std::string& model);

    // Stores a provider's API key (trimmed; blank removes it).
    void setAPIKey(const std::string& key, const std::string& provider);
    std::string cloudModel(const std::string& provider) const;
    std::string enhanceModel(const std::string& provider) const;

    // Re-reads every setting from the store (tests install a fresh store and reload).
    void reload();

signals:
    // Fires after any setting changed (and after an API key was set); `provider` names the
    // provider of a per-provider setting and is empty for the others.
    void changed(AppSettings::Setting setting, const std::string& provider);

private:
    AppSettings();

    std::string provider_;
    Route route_ = Route::account();
    std::string language_;
    bool aiEnhanceEnabled_ = false;
    std::string enhanceProvider_;
    std::string enhanceMode_;
    std::string customEnhanceInstruction_;
    bool sounds_ = true;
    bool pauseOtherAudio_ = false;
    std::string inputDeviceUID_;
    int pttKeyCode_ = 63;
    int cancelKeyCode_ = 54;
    std::string widgetSize_;
    bool showInDock_ = true;
    bool copyInsteadOfTyping_ = false;
    bool applyDictionary_ = true;
    bool launchAtLogin_ = false;
};
