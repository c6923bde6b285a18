#include "ui/main/DictRowView.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"
#include "ui/kit/WrapLabel.h"
#include "ui/main/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

QLabel* arrow(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap("arrow.right", 12, Kestal::faint, parent->devicePixelRatioF()));
    return label;
}

QLineEdit* roundedField(const QString& placeholder, const QString& text, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Kestal::body());
    field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 5px;"
                                 " padding: 3px 6px; } QLineEdit:focus { border-color: %4; }")
                             .arg(Kestal::css(Kestal::surface), Kestal::css(Kestal::text), Kestal::css(Kestal::border),
                                  Kestal::css(Kestal::blue)));
    return field;
}

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

QToolButton* borderless(const QString& symbol, const QColor& color, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setIcon(Symbols::icon(symbol, color));
    b->setIconSize(QSize(14, 14));
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet("QToolButton { border: none; background: transparent; padding: 2px; }");
    return b;
}

}  // namespace

DictRowView::DictRowView(const DictRow& row, bool isEditing, const QString& term, const QString& replacement,
                         Callbacks callbacks, QWidget* parent)
    : RoundedBox(8, RoundedBox::quaternary(0.35), parent), row_(row), isEditing_(isEditing),
      callbacks_(std::move(callbacks)) {
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(10, 10, 10, 10);
    line->setSpacing(10);

    if (isEditing) {
        termField_ = roundedField("term", term, this);
        termField_->setObjectName("dictEditTerm");
        replacementField_ = roundedField("replacement", replacement, this);
        replacementField_->setObjectName("dictEditReplacement");
        save_ = new QPushButton("Save", this);
        save_->setObjectName("dictSave");
        KestalSecondaryButtonStyle::apply(save_);
        line->addWidget(termField_, 1);
        line->addWidget(arrow(this));
        line->addWidget(replacementField_, 1);
        line->addWidget(save_);
        // Typing keeps the page's copy of the fields current, so a reload of the list (a switch or
        // a delete elsewhere) does not lose what was typed.
        auto draft = [this] {
            if (callbacks_.onDraft) callbacks_.onDraft(termField_->text(), replacementField_->text());
        };
        connect(termField_, &QLineEdit::textEdited, this, draft);
        connect(replacementField_, &QLineEdit::textEdited, this, draft);
        connect(save_, &QPushButton::clicked, this, [this] {
            DictRow edited{row_.id, termField_->text().toStdString(), replacementField_->text().toStdString(),
                           row_.enabled};
            if (callbacks_.onSave) callbacks_.onSave(edited);
        });
        return;
    }

    // Long terms wrap inside the row rather than pushing its buttons off the page. The texts sit
    // on the row's middle, beside the switch; a term switched off is dimmed.
    const QColor textColor = row.enabled ? Kestal::text : Kestal::faint;
    auto* termLabel = new WrapLabel(QString::fromStdString(row.term), this);
    termLabel->setObjectName("dictTerm");
    termLabel->setFont(Kestal::body());
    setTextColor(termLabel, textColor);
    auto* replacementLabel = new WrapLabel(QString::fromStdString(row.replacement), this);
    replacementLabel->setObjectName("dictReplacement");
    replacementLabel->setFont(Kestal::font(13, QFont::Medium));
    setTextColor(replacementLabel, textColor);
    line->addWidget(termLabel, 0, Qt::AlignVCenter);
    line->addWidget(arrow(this), 0, Qt::AlignVCenter);
    line->addWidget(replacementLabel, 0, Qt::AlignVCenter);
    line->addStretch(1);

    switch_ = new ToggleSwitch({}, true, this);
    switch_->setObjectName("dictEnabled");
    switch_->setChecked(row.enabled);
    connect(switch_, &ToggleSwitch::clicked, this, [this](bool on) {
        if (callbacks_.onToggle) callbacks_.onToggle(on);
    });
    line->addWidget(switch_);

    edit_ = borderless("pencil", Kestal::dim, this);
    edit_->setObjectName("dictEdit");
    connect(edit_, &QToolButton::clicked, this, [this] {
        if (callbacks_.onDraft)
            callbacks_.onDraft(QString::fromStdString(row_.term), QString::fromStdString(row_.replacement));
        if (callbacks_.onEditToggle) callbacks_.onEditToggle();
    });
    line->addWidget(edit_);

    delete_ = borderless("trash", Kestal::red, this);
    delete_->setObjectName("dictDelete");
    connect(delete_, &QToolButton::clicked, this, [this] {
        if (callbacks_.onDelete) callbacks_.onDelete();
    });
    line->addWidget(delete_);
}
