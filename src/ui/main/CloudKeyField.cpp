#include "ui/main/CloudKeyField.h"

#include "state/AppSettings.h"
#include "state/ProviderModels.h"
#include "state/Secrets.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CloudKeyField::CloudKeyField(const std::string& provider, QWidget* parent) : QWidget(parent), provider_(provider) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    input_ = new QLineEdit(this);
    input_->setObjectName("apiKey");
    input_->setEchoMode(QLineEdit::Password);
    input_->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    input_->setFont(Kestal::body());
    input_->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                                  " padding: 4px 8px; } QLineEdit:focus { border-color: %4; }")
                              .arg(Kestal::css(Kestal::surface), Kestal::css(Kestal::text),
                                   Kestal::css(Kestal::border), Kestal::css(Kestal::blue)));
    row->addWidget(input_, 1);
    save_ = new QPushButton("Save", this);
    save_->setObjectName("saveKey");
    KestalSecondaryButtonStyle::apply(save_);
    row->addWidget(save_);
    column->addLayout(row);

    hintRow_ = new QWidget(this);
    auto* hintLine = new QHBoxLayout(hintRow_);
    hintLine->setContentsMargins(0, 0, 0, 0);
    hintLine->setSpacing(4);
    hintIcon_ = new QLabel(hintRow_);
    hintIcon_->setPixmap(Symbols::pixmap("checkmark.seal.fill", 11, Kestal::green, devicePixelRatioF()));
    hintLine->addWidget(hintIcon_);
    hint_ = new QLabel(hintRow_);
    hint_->setObjectName("keyHint");
    hint_->setTextFormat(Qt::PlainText);
    hint_->setFont(Kestal::caption());
    hint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hintLine->addWidget(hint_);
    hintLine->addStretch(1);
    column->addWidget(hintRow_);

    connect(input_, &QLineEdit::textChanged, this, [this](const QString& text) { save_->setEnabled(!text.isEmpty()); });
    connect(save_, &QPushButton::clicked, this, [this] { save(); });
    connect(input_, &QLineEdit::returnPressed, this, [this] {
        if (save_->isEnabled()) save();
    });

    connect(&AppSettings::shared(), &AppSettings::changed, this,
            [this](AppSettings::Setting setting, const std::string& provider) {
                if (setting == AppSettings::Setting::apiKey && provider == provider_) refreshHint();
            });
    reload();
}

void CloudKeyField::setProvider(const std::string& provider) {
    if (provider == provider_) return;
    provider_ = provider;
    reload();
}

QString CloudKeyField::key() const { return input_->text(); }
void CloudKeyField::setKey(const QString& key) { input_->setText(key); }

void CloudKeyField::save() {
    AppSettings::shared().setAPIKey(input_->text().toStdString(), provider_);
    saved_ = true;
    refreshHint();
}

std::string CloudKeyField::storedKey(const std::string& provider) {
    return Secrets::get(Secrets::apiKeyAccount(provider)).value_or("");
}

QString CloudKeyField::fieldTitle(const std::string& provider) {
    if (auto p = ProviderModels::fromIdentifier(provider))
        return QString::fromStdString(ProviderModels::of(*p).name) + " API key";
    return QString::fromStdString(provider) + " API key";
}

QString CloudKeyField::keyPage(const std::string& provider) {
    if (auto p = ProviderModels::fromIdentifier(provider))
        return QString::fromStdString(ProviderModels::of(*p).keyPage);
    return {};
}

QString CloudKeyField::hintText() const { return hintRow_->isHidden() ? QString() : hint_->text(); }

void CloudKeyField::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

void CloudKeyField::reload() {
    saved_ = false;
    input_->setPlaceholderText(fieldTitle(provider_));
    input_->setText(QString::fromStdString(storedKey(provider_)));
    save_->setEnabled(!input_->text().isEmpty());
    refreshHint();
}

void CloudKeyField::refreshHint() {
    const bool known = !keyPage(provider_).isEmpty();
    if (!storedKey(provider_).empty()) {
        hintIcon_->show();
        hint_->setText("Key saved");
        QPalette p = hint_->palette();
        p.setColor(QPalette::WindowText, Kestal::green);
        hint_->setPalette(p);
        hintRow_->show();
    } else if (known) {
        hintIcon_->hide();
        hint_->setText("Get a key at " + keyPage(provider_));
        QPalette p = hint_->palette();
        p.setColor(QPalette::WindowText, Kestal::dim);
        hint_->setPalette(p);
        hintRow_->show();
    } else {
        hint_->clear();
        hintRow_->hide();
    }
}
