#include "ui/main/SettingsPage.h"

#include "state/AppSettings.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudTranscriber.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Workspace.h"
#include "ui/kit/AppIconManager.h"
#include "ui/kit/AppIconPicker.h"
#include "ui/kit/Kestal.h"
#include "ui/main/AIEnhancementSection.h"
#include "ui/main/AccountSection.h"
#include "ui/main/CloudKeyField.h"
#include "ui/main/FormSection.h"
#include "ui/main/LocalModelsView.h"
#include "ui/main/MicrophoneSection.h"
#include "ui/main/SmallButton.h"
#include "ui/main/ToggleSwitch.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QComboBox* picker(const char* name, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setFont(Kestal::body());
    combo->setMinimumWidth(220);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

// Shows the item tagged `value`; none when no item has that tag.
void select(QComboBox* combo, const std::string& value) {
    const QString tag = QString::fromStdString(value);
    int match = -1;
    for (int i = 0; i < combo->count() && match < 0; ++i)
        if (!combo->itemData(i).isNull() && combo->itemData(i).toString() == tag) match = i;
    QSignalBlocker block(combo);
    combo->setCurrentIndex(match);
}

QString tagAt(QComboBox* combo, int index) { return combo->itemData(index).toString(); }

ToggleSwitch* toggle(const char* name) {
    auto* t = new ToggleSwitch({}, false, nullptr);
    t->setObjectName(name);
    return t;
}

void setChecked(ToggleSwitch* t, bool on) {
    QSignalBlocker block(t);
    t->setChecked(on);
}

QWidget* column(QWidget* parent, int spacing = 10) {
    auto* w = new QWidget(parent);
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return w;
}

void add(QWidget* columnWidget, QWidget* child) {
    child->setParent(columnWidget);
    static_cast<QVBoxLayout*>(columnWidget->layout())->addWidget(child);
}

}  // namespace

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent) {
    setObjectName("settingsPage");
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Kestal::bg);
    setPalette(pal);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("settingsScroll");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setObjectName("settingsContent");
    content->setAutoFillBackground(false);
    auto* form = new QVBoxLayout(content);
    form->setContentsMargins(24, 24, 24, 24);
    form->setSpacing(22);

    account_ = new AccountSection(content);
    form->addWidget(account_);
    form->addWidget(buildTranscription(content));
    auto* modelsSection = new FormSection("Models", content);
    modelsSection->setObjectName("modelsSection");
    models_ = new LocalModelsView(modelsSection->card());
    modelsSection->addRow(models_);
    form->addWidget(modelsSection);
    enhancement_ = new AIEnhancementSection(content);
    form->addWidget(enhancement_);
    microphone_ = new MicrophoneSection(content);
    form->addWidget(microphone_);
    form->addWidget(buildBehavior(content));
    form->addWidget(buildAppIcon(content));
    form->addStretch(1);
    scroll_->setWidget(content);
    outer->addWidget(scroll_);

    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](AppSettings::Setting setting) {
        onSettingChanged(setting);
    });
    connect(&EngineManager::shared(), &EngineManager::changed, this, [this] { refreshStatus(); });
    connect(&BackendClient::shared(), &BackendClient::changed, this, [this] { refresh(); });
    connect(&ModelManager::shared(), &ModelManager::changed, this, [this] { refreshStatus(); });
    refresh();
}

SettingsPage::~SettingsPage() {
    stopProbe();
}

QWidget* SettingsPage::buildTranscription(QWidget* parent) {
    auto* section = new FormSection("Transcription", parent);
    section->setObjectName("transcriptionSection");
    QWidget* card = section->card();

    provider_ = picker("provider", nullptr);
    provider_->addItem(QString::fromUtf8("On-device \u2014 private, on this computer"),
                       QString::fromStdString(Route::local().stored()));
    provider_->addItem(QString::fromUtf8("Tovrin Cloud \u2014 fast, no setup"),
                       QString::fromStdString(Route::account().stored()));
    provider_->insertSeparator(provider_->count());
    for (CloudTranscriber::Provider p : CloudTranscriber::allProviders())
        provider_->addItem(QString::fromStdString(CloudTranscriber::displayName(p)) +
                               QString::fromUtf8(" \u2014 cloud (your key)"),
                           QString::fromStdString(CloudTranscriber::rawValue(p)));
    section->addRow(FormSection::labelledRow("Provider", provider_, card));
    connect(provider_, &QComboBox::activated, this, [this](int index) {
        const QString tag = tagAt(provider_, index);
        if (!tag.isEmpty()) AppSettings::shared().setProvider(tag.toStdString());
    });

    // On-device: the engine's state.
    localRows_ = column(card, 6);
    localRows_->setObjectName("localRows");
    statusRow_ = new QWidget;
    statusRow_->setObjectName("statusRow");
    auto* statusLine = new QHBoxLayout;
    statusLine->setContentsMargins(0, 0, 0, 0);
    statusLine->setSpacing(6);
    statusDot_ = new QLabel;
    statusDot_->setObjectName("statusDot");
    statusDot_->setFixedSize(8, 8);
    statusLine->addWidget(statusDot_, 0, Qt::AlignVCenter);
    statusText_ = FormSection::text({}, Kestal::callout(), Kestal::text, nullptr);
    statusText_->setObjectName("engineStatus");
    statusText_->setWordWrap(false);
    statusLine->addWidget(statusText_, 0, Qt::AlignVCenter);
    retry_ = SmallButton::create("Retry", nullptr);
    retry_->setObjectName("retryButton");
    statusLine->addWidget(retry_, 0, Qt::AlignVCenter);
    showLog_ = SmallButton::create("Show Log", nullptr);
    showLog_->setObjectName("showLogButton");
    statusLine->addWidget(showLog_, 0, Qt::AlignVCenter);
    auto* statusValue = new QWidget;
    statusValue->setLayout(statusLine);
    statusRow_ = FormSection::labelledRow("Status", statusValue, localRows_);
    add(localRows_, statusRow_);
    add(localRows_, FormSection::caption(QString::fromUtf8("Runs entirely on this computer \u2014 nothing leaves the device."),
                                         nullptr));
    section->addRow(localRows_);
    connect(retry_, &QPushButton::clicked, this, [] { EngineManager::shared().startIfPossible(); });
    connect(showLog_, &QPushButton::clicked, this,
            [] { platform::Workspace::shared().revealFile(EngineManager::logURL()); });

    // The account service.
    tovrinSignedIn_ = column(card, 6);
    tovrinSignedIn_->setObjectName("tovrinSignedInRows");
    accountValue_ = FormSection::text({}, Kestal::callout(), Kestal::dim, nullptr);
    accountValue_->setObjectName("tovrinAccount");
    accountValue_->setWordWrap(false);
    add(tovrinSignedIn_, FormSection::labelledRow("Account", accountValue_, nullptr));
    add(tovrinSignedIn_, FormSection::caption("Transcribes on our servers with zero setup. Costs 10 credits per "
                                              "dictation; falls back to on-device if you run out.",
                                              nullptr));
    section->addRow(tovrinSignedIn_);
    signInCaption_ = FormSection::text(QString::fromUtf8("Sign in (Account section above) to use Tovrin Cloud \u2014 new "
                                                         "accounts get 3000 free trial credits."),
                                       Kestal::caption(), Kestal::orange, card);
    signInCaption_->setObjectName("tovrinSignIn");
    section->addRow(signInCaption_);

    // A cloud provider with the user's key.
    cloudRows_ = column(card, 10);
    cloudRows_->setObjectName("cloudRows");
    cloudKey_ = new CloudKeyField(AppSettings::shared().provider(), nullptr);
    cloudKey_->setObjectName("cloudKey");
    add(cloudRows_, cloudKey_);
    cloudModel_ = picker("cloudModel", nullptr);
    add(cloudRows_, FormSection::labelledRow("Model", cloudModel_, nullptr));
    add(cloudRows_, FormSection::caption("Uses your own API key. If the cloud is unreachable, Wendaro falls back to the "
                                         "on-device engine.",
                                         nullptr));
    section->addRow(cloudRows_);
    connect(cloudModel_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || cloudModelsOf_.empty()) return;
        AppSettings::shared().setCloudModel(cloudModelsOf_, tagAt(cloudModel_, index).toStdString());
    });

    language_ = picker("language", nullptr);
    language_->addItem("Auto-detect", QStringLiteral("auto"));
    language_->addItem(QString::fromUtf8("\u0423\u043a\u0440\u0430\u0457\u043d\u0441\u044c\u043a\u0430"),
                       QStringLiteral("uk"));
    language_->addItem("English", QStringLiteral("en"));
    section->addRow(FormSection::labelledRow("Language", language_, card));
    connect(language_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) AppSettings::shared().setLanguage(tagAt(language_, index).toStdString());
    });
    return section;
}

QWidget* SettingsPage::buildBehavior(QWidget* parent) {
    auto* section = new FormSection("Behavior", parent);
    section->setObjectName("behaviorSection");
    QWidget* card = section->card();

    widgetSize_ = picker("widgetSize", nullptr);
    widgetSize_->addItem("Small", QStringLiteral("small"));
    widgetSize_->addItem("Medium", QStringLiteral("medium"));
    widgetSize_->addItem("Large", QStringLiteral("large"));
    section->addRow(FormSection::labelledRow("Recording widget size", widgetSize_, card));
    connect(widgetSize_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) AppSettings::shared().setWidgetSize(tagAt(widgetSize_, index).toStdString());
    });

    auto addToggle = [&](ToggleSwitch*& t, const char* name, const QString& title, const QString& note) {
        t = toggle(name);
        section->addRow(FormSection::labelledRow(title, t, card));
        if (!note.isEmpty()) section->addRow(FormSection::caption(note, card));
    };
    addToggle(launchAtLogin_, "launchAtLogin", "Launch at login", {});
    addToggle(showInDock_, "showInDock", "Show in taskbar", "Off keeps Tovrin in the system tray only.");
    addToggle(sounds_, "sounds", "Recording sounds", {});
    addToggle(pauseOtherAudio_, "pauseOtherAudio", "Pause other audio while you talk",
              "Mutes your speakers during recording so the mic stays clean.");
    addToggle(copyOnly_, "copyOnly", "Copy instead of typing it for you",
              QString::fromUtf8("When on, transcripts go to the clipboard only \u2014 nothing is auto-inserted."));

    connect(launchAtLogin_, &ToggleSwitch::toggled, this, [](bool on) { AppSettings::shared().setLaunchAtLogin(on); });
    connect(showInDock_, &ToggleSwitch::toggled, this, [](bool on) { AppSettings::shared().setShowInDock(on); });
    connect(sounds_, &ToggleSwitch::toggled, this, [](bool on) { AppSettings::shared().setSounds(on); });
    connect(pauseOtherAudio_, &ToggleSwitch::toggled, this, [](bool on) { AppSettings::shared().setPauseOtherAudio(on); });
    connect(copyOnly_, &ToggleSwitch::toggled, this, [](bool on) { AppSettings::shared().setCopyInsteadOfTyping(on); });
    return section;
}

QWidget* SettingsPage::buildAppIcon(QWidget* parent) {
    auto* section = new FormSection("App Icon", parent);
    section->setObjectName("appIconSection");
    iconPicker_ = new AppIconPicker(AppIconManager::current(), section->card());
    iconPicker_->setObjectName("iconPicker");
    section->addRow(iconPicker_);
    section->addRow(FormSection::caption("Pick the app icon shown in the taskbar, the app switcher and the application menu.", section->card()));
    return section;
}

// --- engine status ---

QString SettingsPage::activeLocalModelName() {
    const std::string& active = ModelManager::shared().activeModelID();
    for (const WhisperModel& m : ModelManager::catalog())
        if (m.id == active) return QString::fromStdString(m.name);
    return QStringLiteral("Whisper");
}

QString SettingsPage::statusText() const {
    const EngineManager& engine = EngineManager::shared();
    if (const auto code = engine.lastExitCode()) return "Engine stopped (code " + QString::number(*code) + ")";
    if (serverOK_ == true) return QString::fromUtf8("Ready \u00b7 ") + activeLocalModelName();
    if (ModelManager::shared().installed().empty()) return QString::fromUtf8("No model \u2014 download one below");
    if (engine.running()) return QString::fromUtf8("Loading model\u2026 (first run can take a minute)");
    return QString::fromUtf8("Starting\u2026");
}

QColor SettingsPage::statusColor() const {
    if (EngineManager::shared().lastExitCode()) return kStatusRed;
    if (serverOK_ == true) return kStatusGreen;
    return kStatusOrange;
}

// --- readiness probe ---

void SettingsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!probing_) startProbe();
}

void SettingsPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopProbe();
}

void SettingsPage::startProbe() {
    const unsigned long generation = ++probeGeneration_;
    probing_ = true;
    probedProvider_ = AppSettings::shared().provider();
    probe(generation);
}

void SettingsPage::stopProbe() {
    ++probeGeneration_;
    probing_ = false;
}

platform::Task<void> SettingsPage::probe(unsigned long generation) {
    QPointer<SettingsPage> self(this);
    setServerOK(std::nullopt);
    while (true) {
        if (!self || self->probeGeneration_ != generation) co_return;
        bool ok = false;
        EngineManager& engine = EngineManager::shared();
        if (engine.running()) {
            platform::Task<bool> wait = engine.waitUntilReady(kProbeReadinessTimeout);
            ok = co_await std::move(wait);
            if (!self || self->probeGeneration_ != generation) co_return;
        }
        self->setServerOK(ok);
        if (ok) {
            self->probing_ = false;
            co_return;
        }
        auto pause = platform::sleepFor(kProbeInterval);
        co_await pause;
    }
}

void SettingsPage::setServerOK(std::optional<bool> ok) {
    serverOK_ = ok;
    refreshStatus();
}

// --- refreshing ---

void SettingsPage::onSettingChanged(AppSettings::Setting setting) {
    if (setting == AppSettings::Setting::provider && isVisible() &&
        AppSettings::shared().provider() != probedProvider_)
        startProbe();
    refresh();
}

void SettingsPage::refreshStatus() {
    const QColor color = statusColor();
    statusDot_->setStyleSheet(QString("background: %1; border-radius: 4px;").arg(Kestal::css(color)));
    statusDot_->setProperty("dotColor", color);
    statusText_->setText(statusText());
    const bool stopped = EngineManager::shared().lastExitCode().has_value();
    retry_->setVisible(stopped);
    showLog_->setVisible(stopped);
}

void SettingsPage::refresh() {
    const AppSettings& s = AppSettings::shared();
    const std::string& provider = s.provider();
    const Route& route = s.route();
    select(provider_, provider);

    localRows_->setVisible(route.isLocal());
    const auto& user = BackendClient::shared().user();
    tovrinSignedIn_->setVisible(route.isAccount() && user.has_value());
    signInCaption_->setVisible(route.isAccount() && !user);
    if (user)
        accountValue_->setText(QString::fromStdString(user->email) + QString::fromUtf8(" \u00b7 ") +
                               QString::number(user->creditBalance) + " credits");

    const auto cloud = route.cloudProvider();
    cloudRows_->setVisible(cloud.has_value());
    if (cloud) {
        cloudKey_->setProvider(provider);
        if (cloudModelsOf_ != provider) {
            QSignalBlocker block(cloudModel_);
            cloudModel_->clear();
            for (const auto& [id, label] : CloudTranscriber::models(*cloud))
                cloudModel_->addItem(QString::fromStdString(label), QString::fromStdString(id));
            cloudModelsOf_ = provider;
        }
        select(cloudModel_, s.cloudModel(provider));
    } else {
        cloudModelsOf_.clear();
    }
    select(language_, s.language());

    select(widgetSize_, s.widgetSize());
    setChecked(launchAtLogin_, s.launchAtLogin());
    setChecked(showInDock_, s.showInDock());
    setChecked(sounds_, s.sounds());
    setChecked(pauseOtherAudio_, s.pauseOtherAudio());
    setChecked(copyOnly_, s.copyInsteadOfTyping());
    refreshStatus();
}
