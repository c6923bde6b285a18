// A long list of rows that stays quick however many there are: a list view over a model whose rows
// are painted from pictures of the row widgets, made only for the rows that come on screen. Real
// row widgets exist only where the user can act on them: the row under the pointer (its buttons,
// hover and text selection work as always) and a row kept live (one being edited). Rows stand
// `gap` apart.
#pragma once

#include <QCache>
#include <QHash>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>

#include <cstdint>
#include <functional>

class RowList : public QListView {
    Q_OBJECT
public:
    static constexpr int gap = 8;

    struct Rows {
        // A new widget showing the model's row `row` (the caller owns it).
        std::function<QWidget*(int row)> make;
        // The row's height at `width`, without the gap below it.
        std::function<int(int row, int width)> height;
        // What the row looks like, as a number: the same for rows that look the same (its store id
        // with its texts and state). Heights and pictures are kept under it.
        std::function<std::int64_t(int row)> key;
    };

    explicit RowList(Rows rows, QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

    // The live widget of `row`, made on demand: the one kept live when it is that row, else the
    // pointer's widget, moved there.
    QWidget* live(int row);
    // Keeps `row` live whatever the pointer does (-1: none).
    void keepLive(int row);

    // The row's height at the list's width, from the cache.
    int rowHeight(int row) const;
    // Paints the row's picture (made and cached when missing) into `rect`.
    void paintRow(QPainter& painter, const QRect& rect, int row) const;
    // Whether a live widget stands over the row (it is then not painted).
    bool isLive(int row) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* place(const QModelIndex& index);
    static QWidget* rowOf(QWidget* holder);
    void unplace(QPersistentModelIndex& index, QPointer<QWidget>& widget);
    void forgetAll();
    int width() const;

    Rows rows_;
    QPersistentModelIndex hover_;
    QPointer<QWidget> hoverWidget_;
    QPersistentModelIndex kept_;
    QPointer<QWidget> keptWidget_;
    mutable QHash<std::int64_t, int> heights_;
    mutable int heightsWidth_ = -1;
    mutable QCache<std::int64_t, QPixmap> pictures_;
};
