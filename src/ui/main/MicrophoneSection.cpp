#include "ui/main/MicrophoneSection.h"

#include "state/AppSettings.h"
#include "dictation/AudioDevices.h"
#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

MicrophoneSection::MicrophoneSection(QWidget* parent) : FormSection("Microphone", parent) {
    setObjectName("microphoneSection");
    auto* row = new QWidget(card());
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    auto* label = text("Input", Kestal::body(), Kestal::text, row);
    label->setWordWrap(false);
    line->addWidget(label);
    line->addStretch(1);
    picker_ = new QComboBox(row);
    picker_->setObjectName("inputPicker");
    picker_->setFont(Kestal::body());
    picker_->setMinimumWidth(220);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    line->addWidget(picker_);
    refresh_ = new QToolButton(row);
    refresh_->setObjectName("refreshDevices");
    refresh_->setIcon(Symbols::icon("arrow.clockwise", Kestal::text));
    refresh_->setIconSize(QSize(14, 14));
    refresh_->setToolTip("Refresh device list");
    refresh_->setAutoRaise(true);
    refresh_->setCursor(Qt::PointingHandCursor);
    line->addWidget(refresh_);
    addRow(row);

    active_ = caption({}, card());
    active_->setObjectName("activeInput");
    addRow(active_);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index < 0) return;
        AppSettings::shared().setInputDeviceUID(picker_->itemData(index).toString().toStdString());
    });
    connect(refresh_, &QToolButton::clicked, this, [this] { reloadDevices(); });

    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](AppSettings::Setting setting) {
        if (setting == AppSettings::Setting::inputDevice) syncToSettings();
    });
    rebuildPicker();
}

void MicrophoneSection::showEvent(QShowEvent* event) {
    FormSection::showEvent(event);
    reloadDevices();
}

void MicrophoneSection::reloadDevices() {
    devices_ = AudioDevices::inputs();
    rebuildPicker();
}

QString MicrophoneSection::activeText() const {
    const std::string& uid = AppSettings::shared().inputDeviceUID();
    for (const AudioDevice& d : devices_)
        if (d.uid == uid) return "Active: " + QString::fromStdString(d.name);
    return QStringLiteral("Active: System Default");
}

void MicrophoneSection::rebuildPicker() {
    {
        QSignalBlocker block(picker_);
        picker_->clear();
        picker_->addItem("System Default", QString());
        for (const AudioDevice& d : devices_)
            picker_->addItem(QString::fromStdString(d.name), QString::fromStdString(d.uid));
    }
    syncToSettings();
}

void MicrophoneSection::syncToSettings() {
    const QString uid = QString::fromStdString(AppSettings::shared().inputDeviceUID());
    {
        QSignalBlocker block(picker_);
        // A stored device that is not attached has no option: the picker then shows none.
        int match = -1;
        for (int i = 0; i < picker_->count() && match < 0; ++i)
            if (picker_->itemData(i).toString() == uid) match = i;
        picker_->setCurrentIndex(match);
    }
    active_->setText(activeText());
}
