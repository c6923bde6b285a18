// The main window's left column, 210 points wide: the brand row, one button per page (the selected
// one raised and blue) and, at the bottom, the account block: the signed-in user's avatar, e-mail
// address, plan and credits, or a "Sign in" button that opens Settings. Follows the shared
// navigation state and the account client live.
#pragma once

#include "ui/main/Page.h"

#include <QString>
#include <QWidget>

#include <map>

class BackendClient;
class MainNav;
class QPushButton;
class QVBoxLayout;

class Sidebar : public QWidget {
    Q_OBJECT
public:
    Sidebar(MainNav& nav, BackendClient& backend, QWidget* parent = nullptr);

    // The account block now shown (rebuilt whenever the account changes).
    QWidget* accountBlock() const { return account_; }

    // The avatar's letters: the first two characters of the address, upper-cased.
    static QString initials(const QString& email);
    // The plan as the block shows it: each word capitalised, then " Plan" ("free" → "Free Plan").
    static QString planTitle(const QString& plan);

private:
    void updateSelection();
    void rebuildAccount();

    MainNav& nav_;
    BackendClient& backend_;
    std::map<Page, QPushButton*> buttons_;
    QVBoxLayout* column_ = nullptr;
    QWidget* account_ = nullptr;
};
