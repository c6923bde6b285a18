// One dictionary pair in the Dictionary list. In view mode: term → replacement, an on/off switch,
// a pencil that opens edit mode and a bin that deletes. In edit mode: two fields and "Save",
// which hands back the row with the fields exactly as typed.
#pragma once

#include "state/DictRow.h"
#include "ui/main/RoundedBox.h"

#include <functional>

class QLineEdit;
class QPushButton;
class QToolButton;
class ToggleSwitch;

class DictRowView : public RoundedBox {
    Q_OBJECT
public:
    struct Callbacks {
        std::function<void()> onEditToggle;
        std::function<void(const DictRow&)> onSave;
        std::function<void(bool)> onToggle;
        std::function<void()> onDelete;
        // The pencil copies the row into the edit fields' text before edit mode opens.
        std::function<void(const QString& term, const QString& replacement)> onDraft;
    };

    // `term` and `replacement` are the edit fields' text (used in edit mode).
    DictRowView(const DictRow& row, bool isEditing, const QString& term, const QString& replacement,
                Callbacks callbacks, QWidget* parent = nullptr);

    const DictRow& row() const { return row_; }
    bool isEditing() const { return isEditing_; }

private:
    DictRow row_;
    bool isEditing_;
    Callbacks callbacks_;
    QLineEdit* termField_ = nullptr;
    QLineEdit* replacementField_ = nullptr;
    QPushButton* save_ = nullptr;
    ToggleSwitch* switch_ = nullptr;
    QToolButton* edit_ = nullptr;
    QToolButton* delete_ = nullptr;
};
