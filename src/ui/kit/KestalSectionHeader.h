// A section heading: the title upper-cased, small monospaced semibold type, widely tracked, dim.
#pragma once

#include <QLabel>

class KestalSectionHeader : public QLabel {
    Q_OBJECT
public:
    explicit KestalSectionHeader(const QString& title, QWidget* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);

    // Gives any label the heading look (fields use it for their labels).
    static void style(QLabel* label);

private:
    QString title_;
};
