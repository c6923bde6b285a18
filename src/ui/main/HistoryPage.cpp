#include "ui/main/HistoryPage.h"

#include "app/state/Database.h"
#include "platform/NotificationCenter.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"
#include "ui/main/HistoryCsv.h"
#include "ui/main/HistoryRowView.h"
#include "ui/main/PageHeader.h"
#include "ui/main/RoundedBox.h"
#include "ui/main/SavePanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>

HistoryPage::HistoryPage(Database& store, QWidget* parent) : QWidget(parent), store_(store) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto* header = new PageHeader("clock.arrow.circlepath", "History", "Everything you've dictated on this device.", this);
    auto* exportButton = new QPushButton(Symbols::icon("square.and.arrow.down", Kestal::text), "Export CSV", header);
    exportButton->setObjectName("exportCSV");
    KestalSecondaryButtonStyle::apply(exportButton);
    connect(exportButton, &QPushButton::clicked, this, [this] { exportCSV(); });
    header->addAction(exportButton);
    auto* clearButton = new QPushButton("Clear History", header);
    clearButton->setObjectName("clearHistory");
    KestalSecondaryButtonStyle::apply(clearButton);
    clearButton->setStyleSheet(clearButton->styleSheet() +
                               QString("QAbstractButton { color: %1; }").arg(Kestal::css(Kestal::red)));
    connect(clearButton, &QPushButton::clicked, this, [this] { askToClear(); });
    header->addAction(clearButton);
    column->addWidget(header);

    auto* filters = new QHBoxLayout;
    filters->setSpacing(10);
    auto* searchBox = new RoundedBox(8, RoundedBox::quaternary(0.4), this);
    auto* searchRow = new QHBoxLayout(searchBox);
    searchRow->setContentsMargins(8, 8, 8, 8);
    searchRow->setSpacing(6);
    auto* glass = new QLabel(searchBox);
    glass->setPixmap(Symbols::pixmap("magnifyingglass", 13, Kestal::dim, devicePixelRatioF()));
    searchRow->addWidget(glass);
    search_ = new QLineEdit(searchBox);
    search_->setObjectName("historySearch");
    search_->setPlaceholderText("Search transcripts");
    search_->setFrame(false);
    search_->setFont(Kestal::body());
    search_->setStyleSheet(QString("QLineEdit { background: transparent; border: none; color: %1; }")
                               .arg(Kestal::css(Kestal::text)));
    searchRow->addWidget(search_, 1);
    filters->addWidget(searchBox, 1);
    starred_ = new QPushButton(Symbols::icon("star.fill", Kestal::yellow), "Starred", this);
    starred_->setObjectName("starredFilter");
    starred_->setCheckable(true);
    KestalSecondaryButtonStyle::apply(starred_);
    starred_->setStyleSheet(starred_->styleSheet() +
                            QString("QAbstractButton:checked { background: %1; border-color: %2; }")
                                .arg(Kestal::css(Kestal::elev), Kestal::css(Kestal::blue)));
    filters->addWidget(starred_);
    column->addLayout(filters);

    empty_ = new QLabel(this);
    empty_->setObjectName("historyEmpty");
    empty_->setFont(Kestal::body());
    empty_->setStyleSheet(QString("color: %1; padding: 20px;").arg(Kestal::css(Kestal::dim)));
    column->addWidget(empty_);

    list_ = new QWidget(this);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(8);
    column->addWidget(list_);

    connect(search_, &QLineEdit::textChanged, this, [this] { reload(); });
    connect(starred_, &QPushButton::toggled, this, [this] { reload(); });

    // An announcement from another thread arrives through this page's event loop.
    connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, this,
            [this](const std::string& name) {
                if (name == Database::historyChanged) reload();
            });
    reload();
}

void HistoryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

QList<QWidget*> HistoryPage::rowViews() const {
    QList<QWidget*> out;
    for (int i = 0; i < listLayout_->count(); ++i)
        if (QWidget* w = listLayout_->itemAt(i)->widget()) out.push_back(w);
    return out;
}

void HistoryPage::reload() {
    const bool favoritesOnly = starred_->isChecked();
    rows_ = store_.history(search_->text().toStdString(), favoritesOnly, listLimit);

    // Rows that did not change keep their views (a search keystroke mostly narrows the same
    // list); the others are built anew. Views that go may be the ones whose button caused this
    // reload: they are deleted after it returns.
    std::map<std::int64_t, HistoryRowView*> kept;
    std::swap(kept, views_);
    while (QLayoutItem* item = listLayout_->takeAt(0)) delete item;
    for (const HistoryRow& row : rows_) {
        HistoryRowView* view = nullptr;
        if (auto it = kept.find(row.id); it != kept.end() && it->second->row() == row) {
            view = it->second;
            kept.erase(it);
        } else {
            view = new HistoryRowView(row, store_, list_);
        }
        views_[row.id] = view;
        listLayout_->addWidget(view);
    }
    for (auto& [id, view] : kept) {
        view->hide();
        view->deleteLater();
    }

    empty_->setText(favoritesOnly ? "No starred transcripts." : "No transcripts yet.");
    empty_->setVisible(rows_.empty());
    list_->setVisible(!rows_.empty());
}

void HistoryPage::exportCSV() {
    const auto path = SavePanel::run(proposedName, window());
    if (!path) return;
    const std::string text = HistoryCsv::text(store_.history("", false, exportLimit));
    SavePanel::writeAtomically(*path, QByteArray::fromStdString(text));  // a failed write is ignored
}

void HistoryPage::askToClear() {
    if (confirm_) return;
    confirm_ = new QMessageBox(QMessageBox::Warning, QString(), "Delete all history?", QMessageBox::NoButton, this);
    confirm_->setObjectName("clearConfirmation");
    confirm_->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* destroy = confirm_->addButton("Delete Everything", QMessageBox::DestructiveRole);
    destroy->setObjectName("deleteEverything");
    confirm_->addButton(QMessageBox::Cancel);
    confirm_->setDefaultButton(QMessageBox::Cancel);
    QPointer<HistoryPage> self(this);
    connect(confirm_, &QMessageBox::buttonClicked, this, [this, destroy](QAbstractButton* clicked) {
        confirm_ = nullptr;
        if (clicked == destroy) store_.clearHistory();
    });
    connect(confirm_, &QObject::destroyed, this, [self] {
        if (self) self->confirm_ = nullptr;
    });
    confirm_->open();
}
