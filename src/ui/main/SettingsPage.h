// The Settings page: every user setting in one scrolling form of seven groups (account,
// transcription, on-device models, AI enhancement, microphone, behaviour, application icon),
// with the live state of the local speech engine. Controls write straight into the shared
// settings; the page keeps none of its own.
//
// While the page is on screen it probes the local engine: not running reads as not ready;
// running, it waits up to 8 s for an answer; then again every 2 s until the engine answers. The
// probe starts afresh whenever the chosen provider changes, and never starts the engine itself.
#pragma once

#include "state/AppSettings.h"
#include "platform/Task.h"
#include "ui/kit/Kestal.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

class AccountSection;
class AIEnhancementSection;
class AppIconPicker;
class CloudKeyField;
class LocalModelsView;
class MicrophoneSection;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class ToggleSwitch;

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr double kProbeInterval = 2;
    static constexpr double kProbeReadinessTimeout = 8;

    explicit SettingsPage(QWidget* parent = nullptr);
    ~SettingsPage() override;

    // Readiness of the local engine: nullopt until known, true once it answered.
    std::optional<bool> serverOK() const { return serverOK_; }
    QString statusText() const;
    QColor statusColor() const;
    // The catalogue name of the active on-device model; "Whisper" when it is not in the catalogue.
    static QString activeLocalModelName();

    static inline const QColor& kStatusRed = Kestal::alertRed;
    static inline const QColor& kStatusGreen = Kestal::green;
    static inline const QColor& kStatusOrange = Kestal::orange;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildTranscription(QWidget* parent);
    QWidget* buildBehavior(QWidget* parent);
    QWidget* buildAppIcon(QWidget* parent);

    void startProbe();
    void stopProbe();
    platform::Task<void> probe(unsigned long generation);
    void setServerOK(std::optional<bool> ok);

    void refresh();
    void refreshStatus();
    void onSettingChanged(AppSettings::Setting setting);

    std::optional<bool> serverOK_;
    unsigned long probeGeneration_ = 0;
    bool probing_ = false;
    std::string probedProvider_;
    std::string cloudModelsOf_;  // the provider whose models the cloud model picker lists

    QScrollArea* scroll_;
    AccountSection* account_;
    LocalModelsView* models_;
    AIEnhancementSection* enhancement_;
    MicrophoneSection* microphone_;

    QComboBox* provider_ = nullptr;
    QWidget* statusRow_ = nullptr;
    QLabel* statusDot_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPushButton* showLog_ = nullptr;
    QWidget* localRows_ = nullptr;
    QWidget* tovrinSignedIn_ = nullptr;
    QLabel* accountValue_ = nullptr;
    QLabel* signInCaption_ = nullptr;
    QWidget* cloudRows_ = nullptr;
    CloudKeyField* cloudKey_ = nullptr;
    QComboBox* cloudModel_ = nullptr;
    QComboBox* language_ = nullptr;

    QComboBox* widgetSize_ = nullptr;
    ToggleSwitch* launchAtLogin_ = nullptr;
    ToggleSwitch* showInDock_ = nullptr;
    ToggleSwitch* sounds_ = nullptr;
    ToggleSwitch* pauseOtherAudio_ = nullptr;
    ToggleSwitch* copyOnly_ = nullptr;
    AppIconPicker* iconPicker_ = nullptr;
};
