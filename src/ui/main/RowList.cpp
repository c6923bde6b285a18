#include "ui/main/RowList.h"

#include "ui/main/RowPainter.h"

#include <QLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <memory>

namespace {

// Pictures of rows off screen are dropped beyond this many bytes.
constexpr int kPictureBytes = 48 * 1024 * 1024;

}  // namespace

RowList::RowList(Rows rows, QWidget* parent) : QListView(parent), rows_(std::move(rows)) {
    pictures_.setMaxCost(kPictureBytes);
    RowPainter::Rows painted;
    painted.isLive = [this](int row) { return isLive(row); };
    painted.paint = [this](QPainter& painter, const QRect& rect, int row) { paintRow(painter, rect, row); };
    painted.height = [this](int row) { return rowHeight(row); };
    painted.width = [this] { return viewport()->width(); };
    painted.gap = gap;
    setItemDelegate(new RowPainter(std::move(painted), this));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(false);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
    connect(this, &QAbstractItemView::entered, this, [this](const QModelIndex& index) {
        if (index.isValid() && index != QModelIndex(kept_)) live(index.row());
    });
}

void RowList::setModel(QAbstractItemModel* model) {
    if (QAbstractItemModel* old = this->model()) disconnect(old, nullptr, this, nullptr);
    QListView::setModel(model);
    forgetAll();
    if (!model) return;
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        // The list let every row widget go with the rows.
        hoverWidget_ = nullptr;
        keptWidget_ = nullptr;
        hover_ = QPersistentModelIndex();
        kept_ = QPersistentModelIndex();
        // Heights and pictures stay: a row that looks the same has the same key.
        if (heights_.size() > 4 * this->model()->rowCount() + 1000) heights_.clear();
    });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!hover_.isValid()) hoverWidget_ = nullptr;
        if (!kept_.isValid()) keptWidget_ = nullptr;
        scheduleDelayedItemsLayout();
    });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { scheduleDelayedItemsLayout(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
        // The pointer's widget shows the row anew; a kept one keeps what is typed in it.
        if (hover_.isValid() && hover_.row() >= from.row() && hover_.row() <= to.row()) {
            const int row = hover_.row();
            unplace(hover_, hoverWidget_);
            live(row);
        }
        // Rows laid out again only when one changed height; else painted again.
        for (int row = from.row(); row <= to.row(); ++row) {
            const QRect shown = visualRect(this->model()->index(row, 0));
            if (!shown.isValid() || shown.height() != rowHeight(row) + gap) {
                scheduleDelayedItemsLayout();
                return;
            }
        }
        viewport()->update();
    });
}

QWidget* RowList::rowOf(QWidget* holder) {
    if (!holder || !holder->layout() || holder->layout()->count() == 0) return nullptr;
    return holder->layout()->itemAt(0)->widget();
}

QWidget* RowList::place(const QModelIndex& index) {
    auto* holder = new QWidget;
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, gap);
    column->setSpacing(0);
    column->addWidget(rows_.make(index.row()));
    setIndexWidget(index, holder);
    return holder;
}

void RowList::unplace(QPersistentModelIndex& index, QPointer<QWidget>& widget) {
    // The widget may be the one whose button led here: it goes once that has returned.
    if (widget) {
        if (index.isValid() && indexWidget(index) == widget) setIndexWidget(index, nullptr);
        else widget->deleteLater();
    }
    widget = nullptr;
    index = QPersistentModelIndex();
}

QWidget* RowList::live(int row) {
    if (!model() || row < 0 || row >= model()->rowCount()) return nullptr;
    const QModelIndex index = model()->index(row, 0);
    if (kept_.isValid() && index == QModelIndex(kept_)) {
        if (!keptWidget_) keptWidget_ = place(index);
        return rowOf(keptWidget_);
    }
    if (!hoverWidget_ || index != QModelIndex(hover_)) {
        unplace(hover_, hoverWidget_);
        hover_ = index;
        hoverWidget_ = place(index);
    }
    return rowOf(hoverWidget_);
}

void RowList::keepLive(int row) {
    const QModelIndex index = model() && row >= 0 && row < model()->rowCount() ? model()->index(row, 0) : QModelIndex();
    if (index.isValid() && index == QModelIndex(kept_) && keptWidget_) return;
    unplace(kept_, keptWidget_);
    if (!index.isValid()) return;
    if (index == QModelIndex(hover_)) unplace(hover_, hoverWidget_);
    kept_ = index;
    keptWidget_ = place(index);
}

bool RowList::isLive(int row) const {
    return (hoverWidget_ && hover_.isValid() && hover_.row() == row) ||
           (keptWidget_ && kept_.isValid() && kept_.row() == row);
}

int RowList::width() const { return viewport()->width(); }

int RowList::rowHeight(int row) const {
    const int w = width();
    if (w != heightsWidth_) {
        heights_.clear();
        heightsWidth_ = w;
    }
    const std::int64_t key = rows_.key(row);
    auto it = heights_.constFind(key);
    if (it != heights_.constEnd()) return *it;
    const int h = rows_.height(row, w);
    heights_.insert(key, h);
    return h;
}

void RowList::paintRow(QPainter& painter, const QRect& rect, int row) const {
    if (rect.isEmpty()) return;
    const std::int64_t key = rows_.key(row);
    const qreal ratio = devicePixelRatioF();
    if (const QPixmap* cached = pictures_.object(key);
        cached && cached->deviceIndependentSize().toSize() == rect.size() && cached->devicePixelRatio() == ratio) {
        painter.drawPixmap(rect.topLeft(), *cached);
        return;
    }
    std::unique_ptr<QWidget> widget(rows_.make(row));
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->setPalette(palette());
    widget->ensurePolished();
    widget->resize(rect.size());
    if (widget->layout()) widget->layout()->activate();
    auto picture = std::make_unique<QPixmap>(rect.size() * ratio);
    picture->setDevicePixelRatio(ratio);
    picture->fill(Qt::transparent);
    widget->render(picture.get(), QPoint(), QRegion(), QWidget::DrawChildren);
    painter.drawPixmap(rect.topLeft(), *picture);
    const int bytes = picture->width() * picture->height() * 4;
    pictures_.insert(key, picture.release(), bytes);
}

void RowList::forgetAll() {
    heights_.clear();
    pictures_.clear();
}

void RowList::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) pictures_.clear();
}
