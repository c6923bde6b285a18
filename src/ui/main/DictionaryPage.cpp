#include "ui/main/DictionaryPage.h"

#include "state/AppSettings.h"
#include "state/Database.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "platform/Symbols.h"
#include "platform/TextTools.h"
#include "ui/main/DictRowView.h"
#include "ui/main/PageHeader.h"
#include "ui/main/RoundedBox.h"
#include "ui/main/RowList.h"
#include "ui/kit/WrapLabel.h"
#include "ui/main/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QFontMetrics>
#include <QLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLineEdit* plainField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Kestal::body());
    field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                                 " padding: 4px 7px; } QLineEdit:focus { border-color: %4; }")
                             .arg(Kestal::css(Kestal::surface), Kestal::css(Kestal::text), Kestal::css(Kestal::border),
                                  Kestal::css(Kestal::blue)));
    // Never narrower than its placeholder (padding, border and the field's own margins beside it),
    // so the example stays whole in the smallest window.
    field->setMinimumWidth(QFontMetrics(field->font()).horizontalAdvance(placeholder) + 2 * 7 + 2 + 4);
    return field;
}

}  // namespace

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
    connect(&AppSettings::shared(), &AppSettings::changed, apply_, [this](AppSettings::Setting setting) {
        if (setting == AppSettings::Setting::applyDictionary)
            apply_->setChecked(AppSettings::shared().applyDictionary());
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
    // The fields share the room as their placeholders do; spaced a little tighter than the default
    // so both examples fit whole in the smallest window.
    addRow->setSpacing(4);
    addRow->addWidget(newTerm_, newTerm_->minimumWidth());
    addRow->addWidget(arrow);
    addRow->addWidget(newReplacement_, newReplacement_->minimumWidth());
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
    connect(search_, &QLineEdit::textChanged, this, [this] { showRows(); });

    RowList::Rows shown;
    shown.make = [this](int row) { return makeView(model_.at(row)); };
    shown.height = [this](int row, int width) { return rowHeight(model_.at(row), width); };
    shown.key = [this](int row) {
        const DictRow& r = model_.at(row);
        using Model = RowListModel<DictRow>;
        const std::int64_t state = (r.enabled ? 1 : 0) | (editing_ == r.id ? 2 : 0);
        return Model::mix(Model::mix(Model::mix(r.id, r.term), r.replacement), state);
    };
    list_ = new RowList(std::move(shown), this);
    list_->setObjectName("dictList");
    list_->setModel(&model_);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(list_, 1);

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
    const QString term = platform::TextTools::trimmedSpacesAndTabs(newTerm_->text());
    const QString replacement = platform::TextTools::trimmedSpacesAndTabs(newReplacement_->text());
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
    loweredStale_ = true;
    showRows();
}

std::vector<DictRow> DictionaryPage::filtered() const {
    const QString search = search_->text();
    if (search.isEmpty()) return rows_;
    if (loweredStale_) {
        lowered_.clear();
        lowered_.reserve(rows_.size());
        for (const DictRow& r : rows_)
            lowered_.emplace_back(QString::fromStdString(r.term).toLower(), QString::fromStdString(r.replacement).toLower());
        loweredStale_ = false;
    }
    const QString q = search.toLower();
    std::vector<DictRow> out;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (lowered_[i].first.contains(q) || lowered_[i].second.contains(q)) out.push_back(rows_[i]);
    return out;
}

void DictionaryPage::showRows() {
    count_->setText(QString("Saved Terms (%1)").arg(rows_.size()));
    model_.sync(filtered());
    updateEditing();
}

int DictionaryPage::rowOf(std::optional<std::int64_t> id) const {
    if (!id) return -1;
    const auto& rows = model_.rows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const DictRow& r) { return r.id == *id; });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

void DictionaryPage::updateEditing() {
    const int row = rowOf(editing_);
    if (shownEditing_ != editing_) {
        const int before = rowOf(shownEditing_);
        shownEditing_ = editing_;
        list_->keepLive(row);
        model_.touch(before);
        model_.touch(row);
    } else {
        list_->keepLive(row);
    }
}

DictRowView* DictionaryPage::rowView(int index) { return qobject_cast<DictRowView*>(list_->live(index)); }

DictRowView* DictionaryPage::makeView(const DictRow& row) {
    const std::int64_t id = row.id;
    DictRowView::Callbacks callbacks;
    callbacks.onEditToggle = [this, id] {
        editing_ = editing_ == id ? std::nullopt : std::optional<std::int64_t>(id);
        updateEditing();
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
    return new DictRowView(row, editing_ == id, draftTerm_, draftReplacement_, std::move(callbacks));
}

int DictionaryPage::rowHeight(const DictRow& row, int width) {
    if (width != measuredWidth_) {
        // A row of two short texts at this width: its height, and the room its texts may take on
        // one line (theirs and the stretch's).
        DictRowView probe(DictRow{0, "x", "x", true}, false, {}, {}, {});
        probe.setAttribute(Qt::WA_DontShowOnScreen);
        probe.ensurePolished();
        lineHeight_ = probe.heightForWidth(width);
        probe.resize(width, lineHeight_);
        probe.layout()->activate();
        auto* term = probe.findChild<WrapLabel*>("dictTerm");
        auto* replacement = probe.findChild<WrapLabel*>("dictReplacement");
        int stretch = 0;
        for (int i = 0; i < probe.layout()->count(); ++i)
            if (QLayoutItem* item = probe.layout()->itemAt(i); item->spacerItem()) stretch += item->geometry().width();
        textRoom_ = term->width() + replacement->width() + stretch;
        termFont_ = term->font();
        replacementFont_ = replacement->font();
        measuredWidth_ = width;
    }
    // The common row: both texts on one line, as wide as they are. Their widths are estimated
    // from the widths of their characters, with a margin for what shaping changes; a row near the
    // edge is measured in full.
    const auto natural = [this](const std::string& utf8, const QFont& font) {
        const QString text = QString::fromStdString(utf8);
        auto& widths = charWidths_[font.key()];
        const QFontMetrics fm(font);
        int w = 0;
        for (QChar c : text) {
            if (c == QLatin1Char('\n') || c.isSurrogate() || c.category() == QChar::Mark_NonSpacing) return -1;
            auto it = widths.find(c.unicode());
            if (it == widths.end()) it = widths.insert(c.unicode(), fm.horizontalAdvance(c));
            w += *it;
        }
        w += w / 20 + 4;
        return w > fm.averageCharWidth() * 60 ? -1 : w;
    };
    if (editing_ != row.id) {
        const int term = natural(row.term, termFont_);
        const int replacement = natural(row.replacement, replacementFont_);
        if (term >= 0 && replacement >= 0 && term + replacement <= textRoom_) return lineHeight_;
    }
    std::unique_ptr<DictRowView> view(makeView(row));
    view->ensurePolished();
    return view->heightForWidth(width);
}
