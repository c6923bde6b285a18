#include "platform/qt/QtStatusItem.h"

#include "platform/Symbols.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace platform {

QString QtStatusItem::menuText(const std::string& title) {
    // Qt reads "&" as the mark of the next letter's shortcut; our titles mean the character.
    return QString::fromStdString(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QtStatusItem::QtStatusItem() : tray_(new QSystemTrayIcon), qmenu_(new QMenu) {
    tray_->setContextMenu(qmenu_);
    // A click on the item opens its menu, as it does in a menu bar.
    QObject::connect(tray_, &QSystemTrayIcon::activated, qmenu_, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) qmenu_->popup(QCursor::pos());
    });
}

QtStatusItem::~QtStatusItem() {
    menuWatch_.reset();
    delete tray_;
    delete qmenu_;
}

QIcon QtStatusItem::icon(const std::string& symbol) {
    // Light within a dark outline: it reads on a light panel as on a dark one. Recording is red.
    const QColor fill = symbol == "record.circle.fill" ? QColor(255, 59, 48) : QColor(236, 236, 240);
    return Symbols::outlinedIcon(QString::fromStdString(symbol), fill, QColor(20, 20, 24));
}

void QtStatusItem::setSymbol(const std::string& symbol, const std::string& accessibilityDescription) {
    symbol_ = symbol;
    tray_->setIcon(icon(symbol));
    // The desktop shows the tooltip as the item's name: the product's name.
    tray_->setToolTip(QStringLiteral("Tovrin"));
    tray_->show();
}

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menuWatch_ = std::make_unique<QObject>();
    menu_ = std::move(menu);
    qmenu_->clear();
    actions_.clear();
    if (menu_) render(qmenu_, *menu_);
}

void QtStatusItem::render(QMenu* target, const Menu& menu) {
    for (const auto& item : menu.items) {
        if (item->separator) {
            target->addSeparator();
            continue;
        }
        if (item->submenu) {
            QMenu* sub = target->addMenu(menuText(item->title));
            render(sub, *item->submenu);
            continue;
        }
        QAction* action = target->addAction(menuText(item->title));
        if (!item->keyEquivalent.empty())
            action->setShortcut(QKeySequence(QString::fromStdString("Ctrl+" + item->keyEquivalent)));
        action->setCheckable(item->checked || !item->representedObject.empty());
        action->setChecked(item->checked);
        std::weak_ptr<MenuItem> weak = item;
        QObject::connect(action, &QAction::triggered, action, [weak](bool) {
            if (auto i = weak.lock(); i && i->action) i->action();
        });
        actions_[item.get()] = action;
    }
    // Follow later changes of titles and check marks.
    for (const auto& item : menu.items) {
        if (item->submenu) QObject::connect(item->submenu.get(), &Menu::changed, menuWatch_.get(), [this] { refresh(); });
    }
    if (&menu == menu_.get()) QObject::connect(menu_.get(), &Menu::changed, menuWatch_.get(), [this] { refresh(); });
}

void QtStatusItem::refresh() {
    for (auto& [item, action] : actions_) {
        if (!action) continue;
        action->setText(menuText(item->title));
        action->setChecked(item->checked);
    }
}

bool QtStatusBar::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace platform
