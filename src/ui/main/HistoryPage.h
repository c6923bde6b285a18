// The History page: the stored transcripts newest first (at most 500), a search box and a
// "Starred" filter, per-row star, copy and delete, "Clear History" after a confirmation, and
// "Export CSV" of the whole history. Reloads on every search keystroke, filter change and history
// change announced by the store; an announced change touches only the rows that changed. The list
// paints its rows and makes a row widget only for the row under the pointer. In a long history a
// search or the filter reads on a worker thread, and the list follows when the rows come.
#pragma once

#include "state/HistoryRow.h"
#include "ui/main/RowListModel.h"

#include <QString>
#include <QThreadPool>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

class Database;
class HistoryRowView;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class RowList;
class WrapLabel;

class HistoryPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int listLimit = 500;
    static constexpr int exportLimit = 100000;
    static constexpr const char* proposedName = "wendaro-history.csv";
    // From this many stored transcripts on, searches and the filter read off the main thread.
    static constexpr std::int64_t longHistory = 5000;

    explicit HistoryPage(Database& store, QWidget* parent = nullptr);
    ~HistoryPage() override;

    void reload();
    // Asks where to save, then writes every stored transcript (ignoring search and filter).
    void exportCSV();
    QLabel* exportError() const { return exportError_; }
    // Shows the delete-all confirmation.
    void askToClear();

    const std::vector<HistoryRow>& rows() const { return model_.rows(); }
    // The delete-all confirmation while it is shown, else null.
    QMessageBox* confirmation() const { return confirm_; }
    // The number of rows in the list.
    int rowViewCount() const { return model_.rowCount(); }
    // The widget of the list's row `index`, as the pointer over it makes it.
    HistoryRowView* rowView(int index);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showRows(std::vector<HistoryRow> rows, bool favoritesOnly);
    // The height of a row at the list's width: the fixed part measured once per width, the text's
    // wrapped height for each row.
    int rowHeight(const HistoryRow& row, int width);

    Database& store_;
    RowListModel<HistoryRow> model_;
    QLineEdit* search_;
    QPushButton* starred_;
    QLabel* empty_;
    QLabel* exportError_;  // why the last export could not be written
    RowList* list_;
    QMessageBox* confirm_ = nullptr;
    // Reads for the long history, one at a time; a result older than the newest read asked for is
    // dropped.
    QThreadPool reads_;
    int readsAsked_ = 0;
    bool longHistory_ = false;
    int measuredWidth_ = -1;
    int fixedHeight_ = 0;
    int textWidth_ = 0;
    std::unique_ptr<WrapLabel> measure_;
};
