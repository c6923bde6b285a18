// The Dictionary page: the switch "Apply to transcripts", an add row (heard as → replace with),
// the saved pairs filtered by a search, each switchable, editable and deletable. Every change goes
// to the store and the list is read back from it; only the rows that changed move. The list paints
// its rows and makes row widgets only for the row under the pointer and the row being edited.
#pragma once

#include "state/DictRow.h"
#include "ui/main/RowListModel.h"

#include <QFont>
#include <QHash>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class Database;
class DictRowView;
class QLabel;
class QLineEdit;
class QPushButton;
class RowList;
class ToggleSwitch;

class DictionaryPage : public QWidget {
    Q_OBJECT
public:
    explicit DictionaryPage(Database& store, QWidget* parent = nullptr);

    // Adds the pair in the two fields (spaces and tabs trimmed); nothing when either is then empty.
    // A pair the store cannot take stays in the fields, and the page says why.
    void addTerm();
    // Re-reads the whole dictionary.
    void reload();

    const std::vector<DictRow>& rows() const { return rows_; }
    // The rows the search lets through (all when it is empty), in store order.
    std::vector<DictRow> filtered() const;
    std::optional<std::int64_t> editing() const { return editing_; }

    // The number of rows in the list.
    int rowViewCount() const { return model_.rowCount(); }
    // The widget of the list's row `index`: the row being edited, or as the pointer over it makes it.
    DictRowView* rowView(int index);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the rows the search lets through, moving only the rows that differ from those shown.
    void showRows();
    void updateAddButton();
    DictRowView* makeView(const DictRow& row);
    int rowHeight(const DictRow& row, int width);
    // The list's row of the store id, or -1.
    int rowOf(std::optional<std::int64_t> id) const;
    // Keeps the edited row's widget live and redraws the rows that entered or left edit mode.
    void updateEditing();
    void showNotSaved();

    Database& store_;
    std::vector<DictRow> rows_;
    // The lower-cased term and replacement of each row, for the search.
    mutable std::vector<std::pair<QString, QString>> lowered_;
    mutable bool loweredStale_ = true;
    std::optional<std::int64_t> shownEditing_;
    RowListModel<DictRow> model_;
    std::optional<std::int64_t> editing_;
    QString draftTerm_;
    QString draftReplacement_;
    ToggleSwitch* apply_;
    QLineEdit* newTerm_;
    QLineEdit* newReplacement_;
    QPushButton* add_;
    QLabel* count_;
    QLabel* notSaved_;  // why the last term could not be saved
    QLineEdit* search_;
    RowList* list_;
    // What a row of one line takes at the measured width, beside its two texts.
    int measuredWidth_ = -1;
    int lineHeight_ = 0;
    int textRoom_ = 0;
    QFont termFont_;
    QFont replacementFont_;
    // The advance of each character met, by font.
    QHash<QString, QHash<char16_t, int>> charWidths_;
};
