#include "ui/main/DictionaryPage.h"

#include "app/state/AppSettings.h"
#include "app/state/Database.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "platform/Symbols.h"
#include "ui/main/DictRowView.h"
#include "ui/main/PageHeader.h"
#include "ui/main/RoundedBox.h"
#include "ui/main/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* plainField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Kestal::body());
    field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                                 " padding: 4px 8px; } QLineEdit:focus { border-color: %4; }")
                             .arg(Kestal::css(Kestal::surface), Kestal::css(Kestal::text), Kestal::css(Kestal::border),
                                  Kestal::css(Kestal::blue)));
    return field;
}

bool isTrimmable(QChar c) { return c == QChar('\t') || c.category() == QChar::Separator_Space; }

}  // namespace

QString DictionaryPage::trimmed(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isTrimmable(text.at(start))) ++start;
    while (end > start && isTrimmable(text.at(end - 1))) --end;
    return text.mid(start, end - start);
}

DictionaryPage::DictionaryPage(Database& store, QWidget* parent) : QWidget(parent), store_(store) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto* header = new PageHeader("character.book.closed", "Dictionary", "Fix words Wendaro gets wrong.", this);
    apply_ = new ToggleSwitch("Apply to transcripts", false, header);
    apply_->setObjectName("applyDictionary");
    apply_->setChecked(AppSettings::shared().applyDictionary());
    connect(apply_, &ToggleSwitch::toggled, this, [](bool on) {
        if (AppSettings::shared().applyDictionary() != on) AppSettings::shared().setApplyDictionary(on);
    });
    header->addAction(apply_);
    column->addWidget(header);
    connect(&AppSettings::shared(), &AppSettings::changed, apply_, [this](const std::string& key) {
        if (key == "dictApply") apply_->setChecked(AppSettings::shared().applyDictionary());
    });

    auto* addBox = new RoundedBox(8, RoundedBox::quaternary(0.3), this);
    auto* addRow = new QHBoxLayout(addBox);
    addRow->setContentsMargins(10, 10, 10, 10);
    newTerm_ = plainField(QString::fromUtf8("Heard as\u2026 (e.g. \u043a\u043b\u043e\u0434 \u043a\u043e\u0434)"), addBox);
    newTerm_->setObjectName("newTerm");
    newReplacement_ = plainField(QString::fromUtf8("Replace with\u2026 (e.g. Claude Code)"), addBox);
    newReplacement_->setObjectName("newReplacement");
    auto* arrow = new QLabel(addBox);
    arrow->setPixmap(Symbols::pixmap("arrow.right", 12, Kestal::faint, devicePixelRatioF()));
    add_ = new QPushButton(Symbols::icon("plus", Kestal::bg), "Add term", addBox);
    add_->setObjectName("addTerm");
    KestalPrimaryButtonStyle::apply(add_);
    add_->setDefault(true);
    addRow->addWidget(newTerm_, 1);
    addRow->addWidget(arrow);
    addRow->addWidget(newReplacement_, 1);
    addRow->addWidget(add_);
    column->addWidget(addBox);
    notSaved_ = new QLabel(this);
    notSaved_->setObjectName("termNotSaved");
    notSaved_->setWordWrap(true);
    notSaved_->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::red)));
    notSaved_->hide();
    column->addWidget(notSaved_);
    connect(newTerm_, &QLineEdit::textChanged, this, [this] { updateAddButton(); });
    connect(newReplacement_, &QLineEdit::textChanged, this, [this] { updateAddButton(); });
    connect(add_, &QPushButton::clicked, this, [this] { addTerm(); });
    // Return in either field is the default action.
    for (QLineEdit* field : {newTerm_, newReplacement_})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (add_->isEnabled()) addTerm();
        });
    updateAddButton();

    auto* listHeader = new QHBoxLayout;
    count_ = new QLabel(this);
    count_->setObjectName("dictCount");
    count_->setFont(Kestal::headline());
    count_->setStyleSheet(QString("color: %1;").arg(Kestal::css(Kestal::text)));
    listHeader->addWidget(count_);
    listHeader->addStretch(1);
    auto* searchBox = new RoundedBox(8, RoundedBox::quaternary(0.4), this);
    auto* searchRow = new QHBoxLayout(searchBox);
    searchRow->setContentsMargins(7, 7, 7, 7);
    searchRow->setSpacing(6);
    auto* glass = new QLabel(searchBox);
    glass->setPixmap(Symbols::pixmap("magnifyingglass", 12, Kestal::dim, devicePixelRatioF()));
    searchRow->addWidget(glass);
    search_ = new QLineEdit(searchBox);
    search_->setObjectName("dictSearch");
    search_->setPlaceholderText("Search terms");
    search_->setFrame(false);
    search_->setFont(Kestal::body());
    search_->setFixedWidth(160);
    search_->setStyleSheet(QString("QLineEdit { background: transparent; border: none; color: %1; }")
                               .arg(Kestal::css(Kestal::text)));
    searchRow->addWidget(search_);
    listHeader->addWidget(searchBox);
    column->addLayout(listHeader);
    connect(search_, &QLineEdit::textChanged, this, [this] { rebuildList(); });

    list_ = new QWidget(this);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(8);
    column->addWidget(list_);

    reload();
}

void DictionaryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

void DictionaryPage::updateAddButton() {
    add_->setEnabled(!newTerm_->text().isEmpty() && !newReplacement_->text().isEmpty());
}

void DictionaryPage::addTerm() {
    const QString term = trimmed(newTerm_->text());
    const QString replacement = trimmed(newReplacement_->text());
    if (term.isEmpty() || replacement.isEmpty()) return;
    if (!store_.dictAdd(term.toStdString(), replacement.toStdString())) {
        showNotSaved();
        return;
    }
    notSaved_->hide();
    newTerm_->clear();
    newReplacement_->clear();
    reload();
}

void DictionaryPage::showNotSaved() {
    notSaved_->setText("Not saved: the dictionary cannot be written now (the disk may be full or the file "
                       "read-only). What you typed stays here; save it again once the file can be written.");
    notSaved_->show();
}

void DictionaryPage::reload() {
    rows_ = store_.dictAll();
    rebuildList();
}

std::vector<DictRow> DictionaryPage::filtered() const {
    const QString search = search_->text();
    if (search.isEmpty()) return rows_;
    const QString q = search.toLower();
    std::vector<DictRow> out;
    for (const DictRow& r : rows_) {
        if (QString::fromStdString(r.term).toLower().contains(q) ||
            QString::fromStdString(r.replacement).toLower().contains(q))
            out.push_back(r);
    }
    return out;
}

QList<DictRowView*> DictionaryPage::rowViews() const {
    QList<DictRowView*> out;
    for (int i = 0; i < listLayout_->count(); ++i)
        if (auto* v = qobject_cast<DictRowView*>(listLayout_->itemAt(i)->widget())) out.push_back(v);
    return out;
}

void DictionaryPage::rebuildList() {
    count_->setText(QString("Saved Terms (%1)").arg(rows_.size()));

    // The old views may be the ones whose button caused this: let them go after it returns.
    while (QLayoutItem* item = listLayout_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
    for (const DictRow& row : filtered()) {
        const std::int64_t id = row.id;
        DictRowView::Callbacks callbacks;
        callbacks.onEditToggle = [this, id] {
            editing_ = editing_ == id ? std::nullopt : std::optional<std::int64_t>(id);
            rebuildList();
        };
        callbacks.onSave = [this](const DictRow& edited) {
            // An edit the store cannot take stays open with what was typed.
            if (!store_.dictUpdate(edited)) {
                showNotSaved();
                return;
            }
            notSaved_->hide();
            editing_.reset();
            reload();
        };
        callbacks.onToggle = [this, row](bool on) {
            store_.dictUpdate(DictRow{row.id, row.term, row.replacement, on});
            reload();
        };
        callbacks.onDelete = [this, id] {
            store_.dictDelete(id);
            reload();
        };
        callbacks.onDraft = [this](const QString& term, const QString& replacement) {
            draftTerm_ = term;
            draftReplacement_ = replacement;
        };
        listLayout_->addWidget(new DictRowView(row, editing_ == id, draftTerm_, draftReplacement_, std::move(callbacks), list_));
    }
}
