#include "ui/main/HistoryPage.h"

#include "state/Database.h"
#include "platform/NotificationCenter.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"
#include "ui/main/HistoryCsv.h"
#include "ui/main/HistoryRowView.h"
#include "ui/main/PageHeader.h"
#include "ui/main/RoundedBox.h"
#include "ui/main/RowList.h"
#include "ui/main/SavePanel.h"
#include "ui/kit/WrapLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

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
    exportError_ = new KestalErrorText({}, this);
    exportError_->setObjectName("exportError");
    exportError_->hide();
    column->addWidget(exportError_);

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

    RowList::Rows shown;
    shown.make = [this](int row) { return new HistoryRowView(model_.at(row), store_); };
    shown.height = [this](int row, int width) { return rowHeight(model_.at(row), width); };
    shown.key = [this](int row) {
        const HistoryRow& r = model_.at(row);
        using Model = RowListModel<HistoryRow>;
        return Model::mix(Model::mix(Model::mix(Model::mix(r.id, r.text), r.favorite), r.language.value_or("")),
                          static_cast<std::int64_t>(r.ts * 1000) ^ r.words);
    };
    list_ = new RowList(std::move(shown), this);
    list_->setObjectName("historyList");
    list_->setModel(&model_);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(list_, 1);

    connect(search_, &QLineEdit::textChanged, this, [this] { reload(); });
    connect(starred_, &QPushButton::toggled, this, [this] { reload(); });

    reads_.setMaxThreadCount(1);
    longHistory_ = store_.historyCount() >= longHistory;

    // An announcement from another thread arrives through this page's event loop.
    connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, this,
            [this](const std::string& name) {
                if (name == Database::historyChanged) reload();
            });
    reload();
}

HistoryPage::~HistoryPage() {
    // A read in flight uses the store and this page: it ends before they may go.
    reads_.clear();
    reads_.waitForDone();
}

void HistoryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    longHistory_ = store_.historyCount() >= longHistory;
    reload();
}

HistoryRowView* HistoryPage::rowView(int index) { return qobject_cast<HistoryRowView*>(list_->live(index)); }

int HistoryPage::rowHeight(const HistoryRow& row, int width) {
    if (width != measuredWidth_) {
        // A row of one short line at this width: what is not the text, and the text's width.
        HistoryRow sample;
        sample.text = "x";
        HistoryRowView probe(sample, store_);
        probe.setAttribute(Qt::WA_DontShowOnScreen);
        probe.ensurePolished();
        const int height = probe.heightForWidth(width);
        probe.resize(width, height);
        if (probe.layout()) probe.layout()->activate();
        auto* text = probe.findChild<WrapLabel*>("historyText");
        textWidth_ = text->width();
        fixedHeight_ = height - text->heightForWidth(textWidth_);
        measure_ = std::make_unique<WrapLabel>(QString());
        measure_->setFont(text->font());
        measuredWidth_ = width;
    }
    measure_->setText(QString::fromStdString(row.text));
    return fixedHeight_ + measure_->heightForWidth(textWidth_);
}

void HistoryPage::reload() {
    const bool favoritesOnly = starred_->isChecked();
    const QString search = search_->text();
    const int asked = ++readsAsked_;
    if (longHistory_ && (!search.isEmpty() || favoritesOnly)) {
        // Scanning a long history for a text takes a while: the page answers meanwhile.
        reads_.clear();
        reads_.start([this, search, favoritesOnly, asked] {
            std::vector<HistoryRow> rows = store_.history(search.toStdString(), favoritesOnly, listLimit);
            QMetaObject::invokeMethod(
                this,
                [this, rows = std::move(rows), favoritesOnly, asked]() mutable {
                    if (asked == readsAsked_) showRows(std::move(rows), favoritesOnly);
                },
                Qt::QueuedConnection);
        });
        return;
    }
    showRows(store_.history(search.toStdString(), favoritesOnly, listLimit), favoritesOnly);
}

void HistoryPage::showRows(std::vector<HistoryRow> rows, bool favoritesOnly) {
    // Only the rows that differ from those shown move (a keystroke mostly narrows the same list).
    model_.sync(std::move(rows));

    empty_->setText(favoritesOnly ? "No starred transcripts." : "No transcripts yet.");
    empty_->setVisible(model_.rows().empty());
    list_->setVisible(!model_.rows().empty());
}

void HistoryPage::exportCSV() {
    const auto path = SavePanel::run(proposedName, window());
    exportError_->hide();
    if (!path) return;
    const std::string text = HistoryCsv::text(store_.history("", false, exportLimit));
    const QString failure = SavePanel::writeAtomically(*path, QByteArray::fromStdString(text));
    exportError_->setText(failure);
    exportError_->setVisible(!failure.isEmpty());
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
