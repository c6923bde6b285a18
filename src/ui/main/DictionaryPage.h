// The Dictionary page: the switch "Apply to transcripts", an add row (heard as → replace with),
// the saved pairs filtered by a search, each switchable, editable and deletable. Every change goes
// to the store and the list is read back from it.
#pragma once

#include "app/state/DictRow.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

class Database;
class DictRowView;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
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

    // Trims spaces and tabs (not line breaks) from both ends.
    static QString trimmed(const QString& text);

    QList<DictRowView*> rowViews() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildList();
    void updateAddButton();
    void showNotSaved();

    Database& store_;
    std::vector<DictRow> rows_;
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
    QWidget* list_;
    QVBoxLayout* listLayout_;
};
