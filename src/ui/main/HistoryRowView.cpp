#include "ui/main/HistoryRowView.h"

#include "state/Database.h"
#include "platform/Pasteboard.h"
#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"
#include "ui/kit/WrapLabel.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QToolButton* rowButton(const QString& symbol, const QColor& color, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setIcon(Symbols::icon(symbol, color));
    b->setIconSize(QSize(14, 14));
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

// Plain palette colours rather than style sheets: a list of 500 rows is rebuilt on every
// keystroke in the search box, and style sheets would make that slow.
void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    w->setPalette(p);
}

// The abbreviated date of the locale ("Mar 3, 2025"): its long date with short month names and
// without the weekday.
QString abbreviatedDate(const QDate& date, const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.replace("MMMM", "MMM");
    for (const char* weekday : {"dddd, ", "dddd ", ", dddd", "dddd"}) format.remove(weekday);
    return locale.toString(date, format.trimmed());
}

}  // namespace

QString HistoryRowView::caption(const HistoryRow& row) {
    const QLocale locale;
    const double ts = std::isfinite(row.ts) ? row.ts : 0;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(ts * 1000)));
    const long long seconds = row.seconds > 0 && row.seconds < 9e18 ? static_cast<long long>(row.seconds) : 0;
    QString text = abbreviatedDate(when.date(), locale) + ", " + locale.toString(when.time(), QLocale::ShortFormat) +
                   QString::fromUtf8(" \u00b7 ") + QString::number(row.words) + QString::fromUtf8(" words \u00b7 ") +
                   QString::number(seconds) + "s";
    if (row.language) text += QString::fromUtf8(" \u00b7 ") + QString::fromStdString(*row.language);
    return text;
}

HistoryRowView::HistoryRowView(const HistoryRow& row, Database& store, QWidget* parent)
    : RoundedBox(10, RoundedBox::quaternary(0.4), parent), row_(row), store_(store) {
    setAttribute(Qt::WA_Hover);
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(12, 12, 12, 12);
    line->setSpacing(10);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* captionLabel = new QLabel(caption(row), this);
    captionLabel->setObjectName("historyCaption");
    captionLabel->setTextFormat(Qt::PlainText);  // the language code comes from the recogniser
    captionLabel->setFont(Kestal::caption());
    setTextColor(captionLabel, Kestal::dim);
    column->addWidget(captionLabel);
    auto* text = new WrapLabel(QString::fromStdString(row.text), this);
    text->setObjectName("historyText");
    text->setSelectable(true);
    text->setFont(Kestal::body());
    setTextColor(text, Kestal::text);
    column->addWidget(text);
    line->addLayout(column, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    star_ = row.favorite ? rowButton("star.fill", Kestal::yellow, this) : rowButton("star", Kestal::dim, this);
    star_->setObjectName("historyStar");
    copy_ = rowButton("doc.on.doc", Kestal::dim, this);
    copy_->setObjectName("historyCopy");
    delete_ = rowButton("trash", Kestal::dim, this);
    delete_->setObjectName("historyDelete");
    buttons->addWidget(star_);
    buttons->addWidget(copy_);
    buttons->addWidget(delete_);
    line->addLayout(buttons);
    line->setAlignment(buttons, Qt::AlignTop);
    setHovering(false);

    const std::int64_t id = row.id;
    const std::string copied = row.text;
    connect(star_, &QToolButton::clicked, this, [this, id] { store_.toggleFavorite(id); });
    connect(copy_, &QToolButton::clicked, this, [copied] {
        auto& pasteboard = platform::Pasteboard::general();
        pasteboard.clear();
        pasteboard.setString(copied);
    });
    connect(delete_, &QToolButton::clicked, this, [this, id] { store_.deleteHistory(id); });
}

void HistoryRowView::setHovering(bool hovering) {
    hovering_ = hovering;
    // Hidden buttons keep their place so the row does not jump under the pointer.
    for (QToolButton* b : {copy_, delete_}) {
        QSizePolicy policy = b->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        b->setSizePolicy(policy);
        b->setVisible(hovering);
    }
}

void HistoryRowView::enterEvent(QEnterEvent* event) {
    RoundedBox::enterEvent(event);
    setHovering(true);
}

void HistoryRowView::leaveEvent(QEvent* event) {
    RoundedBox::leaveEvent(event);
    setHovering(false);
}
