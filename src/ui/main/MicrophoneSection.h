// The "Microphone" group of the settings: which input the recorder opens ("System Default" or a
// device by its UID), a refresh of the device list, and the device in effect.
#pragma once

#include "ui/main/FormSection.h"

#include "dictation/AudioDevice.h"

#include <vector>

class QComboBox;
class QLabel;
class QToolButton;

class MicrophoneSection : public FormSection {
    Q_OBJECT
public:
    explicit MicrophoneSection(QWidget* parent = nullptr);

    const std::vector<AudioDevice>& devices() const { return devices_; }
    // Reads the inputs again; the setting is left as it is.
    void reloadDevices();

    // "Active: " and the name of the first listed device with the stored UID, else "System Default".
    QString activeText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildPicker();
    void syncToSettings();

    std::vector<AudioDevice> devices_;
    QComboBox* picker_;
    QToolButton* refresh_;
    QLabel* active_;
};
