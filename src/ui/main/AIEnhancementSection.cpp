#include "ui/main/AIEnhancementSection.h"

#include "state/AppSettings.h"
#include "cloud/BackendClient.h"
#include "cloud/Enhancer.h"
#include "ui/kit/Kestal.h"
#include "ui/main/CloudKeyField.h"
#include "ui/main/ToggleSwitch.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cmath>

namespace {

QComboBox* picker(const char* name, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setFont(Kestal::body());
    combo->setMinimumWidth(200);
    return combo;
}

void select(QComboBox* combo, const std::string& value) {
    QSignalBlocker block(combo);
    combo->setCurrentIndex(combo->findData(QString::fromStdString(value)));
}

}  // namespace

AIEnhancementSection::AIEnhancementSection(QWidget* parent) : AIEnhancementSection(BackendClient::shared(), parent) {}

AIEnhancementSection::AIEnhancementSection(BackendClient& backend, QWidget* parent)
    : FormSection("AI Enhancement", parent), backend_(backend) {
    setObjectName("enhancementSection");
    enable_ = new ToggleSwitch({}, false, nullptr);
    enable_->setObjectName("aiEnhance");
    addRow(labelledRow("Improve text with AI after dictation", enable_, card()));
    addRow(caption(QString::fromUtf8("Sends the transcript to an LLM to fix grammar, punctuation and filler words "
                                     "\u2014 or reformat it. Ukrainian stays Ukrainian and English terms stay English."),
                   card()));

    details_ = new QWidget(card());
    details_->setObjectName("enhanceDetails");
    auto* column = new QVBoxLayout(details_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    note_ = caption({}, details_);
    note_->setObjectName("enhanceNote");
    column->addWidget(note_);

    style_ = picker("enhanceMode", nullptr);
    for (const Enhancer::Mode& m : Enhancer::modes())
        style_->addItem(QString::fromStdString(m.name), QString::fromStdString(m.id));
    style_->addItem("Custom prompt", QStringLiteral("custom"));
    column->addWidget(labelledRow("Style", style_, details_));

    instruction_ = new QPlainTextEdit(details_);
    instruction_->setObjectName("customInstruction");
    instruction_->setPlaceholderText(QString::fromUtf8("Custom instruction (e.g. \u201ctranslate to formal English\u201d)"));
    instruction_->setFont(Kestal::body());
    instruction_->setTabChangesFocus(true);
    instruction_->setStyleSheet(QString("QPlainTextEdit { background: %1; color: %2; border: 1px solid %3;"
                                        " border-radius: 6px; padding: 2px 4px; }")
                                    .arg(Kestal::css(Kestal::surface), Kestal::css(Kestal::text),
                                         Kestal::css(Kestal::border)));
    column->addWidget(instruction_);

    provider_ = picker("enhanceProvider", nullptr);
    for (Enhancer::Provider p : Enhancer::allProviders())
        provider_->addItem(QString::fromStdString(Enhancer::displayName(p)), QString::fromStdString(Enhancer::rawValue(p)));
    column->addWidget(labelledRow("Model provider", provider_, details_));

    providerRows_ = new QWidget(details_);
    providerRows_->setObjectName("enhanceProviderRows");
    auto* providerColumn = new QVBoxLayout(providerRows_);
    providerColumn->setContentsMargins(0, 0, 0, 0);
    providerColumn->setSpacing(10);
    keyField_ = new CloudKeyField(AppSettings::shared().enhanceProvider(), providerRows_);
    keyField_->setObjectName("enhanceKey");
    providerColumn->addWidget(keyField_);
    model_ = picker("enhanceModel", nullptr);
    providerColumn->addWidget(labelledRow("Model", model_, providerRows_));
    column->addWidget(providerRows_);
    addRow(details_);

    connect(enable_, &ToggleSwitch::toggled, this, [](bool on) {
        if (on != AppSettings::shared().aiEnhanceEnabled()) AppSettings::shared().setAiEnhanceEnabled(on);
    });
    connect(style_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) AppSettings::shared().setEnhanceMode(style_->itemData(index).toString().toStdString());
    });
    connect(instruction_, &QPlainTextEdit::textChanged, this, [this] {
        fitInstructionHeight();
        const std::string text = instruction_->toPlainText().toStdString();
        if (text != AppSettings::shared().customEnhanceInstruction()) AppSettings::shared().setCustomEnhanceInstruction(text);
    });
    connect(provider_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) AppSettings::shared().setEnhanceProvider(provider_->itemData(index).toString().toStdString());
    });
    connect(model_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || modelsOf_.empty()) return;
        AppSettings::shared().setEnhanceModel(modelsOf_, model_->itemData(index).toString().toStdString());
    });

    connect(&AppSettings::shared(), &AppSettings::changed, this, [this] { refresh(); });
    connect(&backend_, &BackendClient::changed, this, [this] { refresh(); });
    refresh();
}

QString AIEnhancementSection::noteText() const {
    const AppSettings& s = AppSettings::shared();
    if (!CloudKeyField::storedKey(s.enhanceProvider()).empty()) return {};
    if (const auto& user = backend_.user())
        return QString::fromUtf8("Works through your Tovrin account \u2014 no keys needed (3 credits per enhancement, ") +
               QString::number(user->creditBalance) + " left). Add your own key below to use it instead.";
    return QString::fromUtf8("Sign in (Account above) for zero-setup AI \u2014 trial accounts get 3000 credits. Or add "
                             "your own provider key below.");
}

void AIEnhancementSection::refresh() {
    const AppSettings& s = AppSettings::shared();
    {
        QSignalBlocker block(enable_);
        enable_->setChecked(s.aiEnhanceEnabled());
    }
    details_->setVisible(s.aiEnhanceEnabled());

    const QString note = noteText();
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    QPalette p = note_->palette();
    p.setColor(QPalette::WindowText, backend_.user() ? Kestal::dim : Kestal::orange);
    note_->setPalette(p);

    select(style_, s.enhanceMode());
    instruction_->setVisible(s.enhanceMode() == "custom");
    const QString instruction = QString::fromStdString(s.customEnhanceInstruction());
    if (instruction_->toPlainText() != instruction) {
        QSignalBlocker block(instruction_);
        instruction_->setPlainText(instruction);
    }
    fitInstructionHeight();

    select(provider_, s.enhanceProvider());
    const auto provider = Enhancer::providerFromRaw(s.enhanceProvider());
    providerRows_->setVisible(provider.has_value());
    if (!provider) {
        modelsOf_.clear();
        return;
    }
    keyField_->setProvider(s.enhanceProvider());
    if (modelsOf_ != s.enhanceProvider()) {
        QSignalBlocker block(model_);
        model_->clear();
        for (const auto& [id, label] : Enhancer::models(*provider))
            model_->addItem(QString::fromStdString(label), QString::fromStdString(id));
        modelsOf_ = s.enhanceProvider();
    }
    select(model_, s.enhanceModel(s.enhanceProvider()));
}

void AIEnhancementSection::fitInstructionHeight() {
    // Between two and four lines, growing with what is typed.
    const QFontMetrics fm(instruction_->font());
    int lines = 0;
    for (QTextBlock b = instruction_->document()->begin(); b.isValid(); b = b.next())
        lines += std::max(1, b.layout() ? b.layout()->lineCount() : 1);
    lines = std::clamp(lines, 2, 4);
    const int frame = 2 * instruction_->frameWidth() + 8;
    instruction_->setFixedHeight(lines * fm.lineSpacing() + frame);
}
