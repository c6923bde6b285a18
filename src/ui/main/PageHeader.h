// The header row at the top of a page: a 40 × 40 tile holding the page's symbol, the title
// (title-2, bold) above the subtitle (callout, secondary), then the page's own controls at the
// trailing end. 18 points of space below it.
#pragma once

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;

class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString& icon, const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    QString icon() const { return icon_; }
    QString title() const;
    QString subtitle() const;

    // Appends a control to the trailing actions area (left to right in the order added); the
    // header takes ownership.
    void addAction(QWidget* control);

private:
    QString icon_;
    QLabel* title_;
    QLabel* subtitle_;
    QHBoxLayout* actions_;
};
