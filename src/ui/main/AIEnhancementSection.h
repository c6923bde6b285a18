// The "AI Enhancement" group of the settings: the switch for rewriting each transcript with a
// language model, how it is rewritten (a preset style or the user's own instruction), and by
// which provider and model. A note says whether the account or the user's own key will serve.
#pragma once

#include "ui/main/FormSection.h"

class BackendClient;
class CloudKeyField;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class ToggleSwitch;

class AIEnhancementSection : public FormSection {
    Q_OBJECT
public:
    explicit AIEnhancementSection(QWidget* parent = nullptr);
    explicit AIEnhancementSection(BackendClient& backend, QWidget* parent = nullptr);

    // The account note for the current settings; "" when none is shown.
    QString noteText() const;

private:
    void refresh();
    void fitInstructionHeight();

    BackendClient& backend_;

    ToggleSwitch* enable_;
    QWidget* details_;
    QLabel* note_;
    QComboBox* style_;
    QPlainTextEdit* instruction_;
    QComboBox* provider_;
    QWidget* providerRows_;
    CloudKeyField* keyField_;
    QComboBox* model_;
    std::string modelsOf_;  // the provider whose models the model picker lists
};
