// A clickable card that opens a web page in the default browser: a tinted tile with the symbol,
// the title above the subtitle, and the call to action with an arrow at the trailing end.
// An address that does not read as a URL does nothing when clicked.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

class LinkCard : public QAbstractButton {
    Q_OBJECT
public:
    LinkCard(const QString& icon, const QColor& tint, const QString& title, const QString& subtitle,
             const QString& action, const QString& url, QWidget* parent = nullptr);

    QString title() const { return title_; }
    QString url() const { return url_; }
    QString actionText() const { return action_; }

    // Opens the card's address (what a click does); false when it is not a URL or nothing opened it.
    bool open() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_;
    QString action_;
    QString url_;
};
