// The status item as a QSystemTrayIcon with a QMenu rendered from the menu description.
#pragma once

#include "platform/StatusItem.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <map>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace platform {

class QtStatusItem : public StatusItem {
public:
    QtStatusItem();
    ~QtStatusItem() override;

    void setSymbol(const std::string& symbol, const std::string& accessibilityDescription) override;
    void setMenu(std::shared_ptr<Menu> menu) override;
    const std::string& symbol() const override { return symbol_; }

    QSystemTrayIcon* trayIcon() const { return tray_; }
    // The tray's picture of a symbol: readable on light and dark panels; red while recording.
    static QIcon icon(const std::string& symbol);
    QMenu* qmenu() const { return qmenu_; }

    // A menu title as Qt takes it, showing every character as written.
    static QString menuText(const std::string& title);

private:
    void render(QMenu* target, const Menu& menu);
    void refresh();

    QSystemTrayIcon* tray_;
    QMenu* qmenu_;
    std::shared_ptr<Menu> menu_;
    std::map<const MenuItem*, QPointer<QAction>> actions_;
    // Context of the subscriptions to the shown menu and its submenus; replaced with the menu.
    std::unique_ptr<QObject> menuWatch_;
    std::string symbol_;
};

class QtStatusBar : public StatusBar {
public:
    std::unique_ptr<StatusItem> makeStatusItem() override { return std::make_unique<QtStatusItem>(); }
    bool isAvailable() const override;
};

}  // namespace platform
