// One permission in the permissions step: its symbol, name and reason, and either the granted
// mark or an "Enable" button that asks for it.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

class PermissionRow : public QWidget {
    Q_OBJECT
public:
    PermissionRow(QString icon, QString title, QString subtitle, std::function<void()> action,
                  QWidget* parent = nullptr);

    bool granted() const { return granted_; }
    void setGranted(bool granted);
    void setSubtitle(const QString& subtitle);

    const QString& icon() const { return icon_; }
    const QString& title() const { return title_; }
    const QString& subtitle() const { return subtitle_; }

    // The green of a granted permission.
    static const QColor& grantedColor();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void refreshLook();

    QString icon_;
    QString title_;
    QString subtitle_;
    std::function<void()> action_;
    bool granted_ = false;

    QLabel* symbol_;
    QLabel* subtitleLabel_;
    QPushButton* enable_;
    QLabel* mark_;
};
