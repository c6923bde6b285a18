// The History page: the stored transcripts newest first (at most 500), a search box and a
// "Starred" filter, per-row star, copy and delete, "Clear History" after a confirmation, and
// "Export CSV" of the whole history. Reloads on every search keystroke, filter change and history
// change announced by the store.
#pragma once

#include "app/state/HistoryRow.h"

#include <QWidget>

#include <cstdint>
#include <map>
#include <vector>

class Database;
class HistoryRowView;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

class HistoryPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int listLimit = 500;
    static constexpr int exportLimit = 100000;
    static constexpr const char* proposedName = "wendaro-history.csv";

    explicit HistoryPage(Database& store, QWidget* parent = nullptr);

    void reload();
    // Asks where to save, then writes every stored transcript (ignoring search and filter).
    void exportCSV();
    // Shows the delete-all confirmation.
    void askToClear();

    const std::vector<HistoryRow>& rows() const { return rows_; }
    // The delete-all confirmation while it is shown, else null.
    QMessageBox* confirmation() const { return confirm_; }
    // The row views now in the list, in order.
    QList<QWidget*> rowViews() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Database& store_;
    std::vector<HistoryRow> rows_;
    QLineEdit* search_;
    QPushButton* starred_;
    QLabel* empty_;
    QWidget* list_;
    QVBoxLayout* listLayout_;
    std::map<std::int64_t, HistoryRowView*> views_;  // the views in the list, by row id
    QMessageBox* confirm_ = nullptr;
};
