#include "ui/kit/WrapLabel.h"

#include "platform/Pasteboard.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Line breaks as the layout takes them; one character for one, so positions stay those of the text.
QString laidOutText(QString text) {
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}

}  // namespace

WrapLabel::WrapLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrapLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    anchor_ = cursor_ = -1;
    shownWidth_ = hfwWidth_ = -1;
    updateGeometry();
    update();
}

void WrapLabel::setSelectable(bool on) {
    selectable_ = on;
    setFocusPolicy(on ? Qt::ClickFocus : Qt::NoFocus);
    setCursor(on ? Qt::IBeamCursor : Qt::ArrowCursor);
    if (!on) anchor_ = cursor_ = -1;
    update();
}

QString WrapLabel::selectedText() const {
    if (anchor_ < 0 || cursor_ < 0 || anchor_ == cursor_) return {};
    return text_.mid(std::min(anchor_, cursor_), std::abs(cursor_ - anchor_));
}

int WrapLabel::layOut(QTextLayout& layout, int width) const {
    layout.setText(laidOutText(text_));
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    const double leading = std::max(0.0, QFontMetricsF(font()).leading());
    double y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height() + leading;
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(std::max(y, QFontMetricsF(font()).height())));
}

int WrapLabel::heightForWidth(int width) const {
    if (width != hfwWidth_) {
        QTextLayout layout;
        hfwHeight_ = layOut(layout, width);
        hfwWidth_ = width;
    }
    return hfwHeight_;
}

QSize WrapLabel::sizeHint() const {
    // As wide as the text on one line, but no wider than a comfortable paragraph.
    const QFontMetrics fm(font());
    int natural = 0;
    for (const QString& line : text_.split(QLatin1Char('\n'))) natural = std::max(natural, fm.horizontalAdvance(line));
    const int width = std::clamp(natural + 1, 1, fm.averageCharWidth() * 60);
    return {width, heightForWidth(width)};
}

QSize WrapLabel::minimumSizeHint() const {
    const QFontMetrics fm(font());
    const int width = std::min(sizeHint().width(), fm.averageCharWidth() * 8);
    return {width, fm.height()};
}

void WrapLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        shownWidth_ = hfwWidth_ = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void WrapLabel::paintEvent(QPaintEvent*) {
    if (shownWidth_ != width()) {
        layOut(shown_, width());
        shownWidth_ = width();
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    QList<QTextLayout::FormatRange> selections;
    if (!selectedText().isEmpty()) {
        QTextLayout::FormatRange range;
        range.start = std::min(anchor_, cursor_);
        range.length = std::abs(cursor_ - anchor_);
        range.format.setBackground(palette().color(QPalette::Highlight));
        range.format.setForeground(palette().color(QPalette::HighlightedText));
        selections << range;
    }
    shown_.draw(&painter, QPointF(0, 0), selections);
}

int WrapLabel::positionAt(const QPointF& point) {
    if (shownWidth_ != width()) {
        layOut(shown_, width());
        shownWidth_ = width();
    }
    if (shown_.lineCount() == 0) return 0;
    QTextLine line = shown_.lineAt(0);
    for (int i = 0; i < shown_.lineCount(); ++i) {
        line = shown_.lineAt(i);
        if (point.y() < line.rect().bottom()) break;
    }
    return line.xToCursor(point.x());
}

void WrapLabel::mousePressEvent(QMouseEvent* event) {
    if (!selectable_ || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    anchor_ = cursor_ = positionAt(event->position());
    dragging_ = true;
    update();
}

void WrapLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    cursor_ = positionAt(event->position());
    update();
}

void WrapLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    // The X11 primary selection, for a middle-click paste elsewhere.
    if (QClipboard* clipboard = QApplication::clipboard(); clipboard->supportsSelection() && !selectedText().isEmpty())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void WrapLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!selectable_ || event->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(event);
    // The word under the pointer: the run of letters and digits around it.
    const int size = static_cast<int>(text_.size());
    int start = std::min(positionAt(event->position()), size);
    int end = start;
    while (start > 0 && text_.at(start - 1).isLetterOrNumber()) --start;
    while (end < size && text_.at(end).isLetterOrNumber()) ++end;
    anchor_ = start;
    cursor_ = end;
    dragging_ = false;
    update();
}

void WrapLabel::keyPressEvent(QKeyEvent* event) {
    if (selectable_ && event->matches(QKeySequence::Copy)) return copy();
    if (selectable_ && event->matches(QKeySequence::SelectAll)) return selectAll();
    QWidget::keyPressEvent(event);
}

void WrapLabel::contextMenuEvent(QContextMenuEvent* event) {
    if (!selectable_) return QWidget::contextMenuEvent(event);
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("Copy"), this, [this] { copy(); });
    copyAction->setEnabled(!selectedText().isEmpty());
    menu.addAction(tr("Select All"), this, [this] { selectAll(); });
    menu.exec(event->globalPos());
}

void WrapLabel::copy() const {
    const QString selected = selectedText();
    if (selected.isEmpty()) return;
    auto& pasteboard = platform::Pasteboard::general();
    pasteboard.clear();
    pasteboard.setString(selected.toStdString());
}

void WrapLabel::selectAll() {
    anchor_ = 0;
    cursor_ = static_cast<int>(text_.size());
    update();
}
