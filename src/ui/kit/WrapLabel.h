// Plain text that wraps to the width it is given: at spaces where it can, and inside a word that
// is wider than the line (a long link or number), so no text makes its row wider than the page.
// Optionally selectable with the mouse and copied with Ctrl+C or its context menu, as written.
#pragma once

#include <QTextLayout>
#include <QWidget>

class WrapLabel : public QWidget {
    Q_OBJECT
public:
    explicit WrapLabel(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setSelectable(bool on);
    QString selectedText() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Lays the text out at `width` into `layout`; returns the height it takes.
    int layOut(QTextLayout& layout, int width) const;
    int positionAt(const QPointF& point);
    void copy() const;
    void selectAll();

    QString text_;
    bool selectable_ = false;
    int anchor_ = -1;
    int cursor_ = -1;
    bool dragging_ = false;
    QTextLayout shown_;
    int shownWidth_ = -1;
    mutable int hfwWidth_ = -1;
    mutable int hfwHeight_ = 0;
};
