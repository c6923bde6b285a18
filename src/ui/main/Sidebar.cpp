#include "ui/main/Sidebar.h"

#include "cloud/BackendClient.h"
#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"
#include "ui/main/MainNav.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace {

QLabel* symbolLabel(const QString& name, double size, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap(name, size, color, parent ? parent->devicePixelRatioF() : 1.0));
    label->setFixedSize(static_cast<int>(size), static_cast<int>(size));
    return label;
}

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);  // an address or plan name is shown as it is, never as markup
    label->setFont(font);
    label->setStyleSheet(QString("color: %1;").arg(Kestal::css(color)));
    return label;
}

}  // namespace

Sidebar::Sidebar(MainNav& nav, BackendClient& backend, QWidget* parent)
    : QWidget(parent), nav_(nav), backend_(backend) {
    setFixedWidth(210);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);

    auto* brand = new QHBoxLayout;
    brand->setContentsMargins(14, 16, 14, 18);
    brand->setSpacing(8);
    brand->addWidget(symbolLabel("mic.circle.fill", 26, Kestal::blue, this));
    auto* name = textLabel("Tovrin", Kestal::font(15, QFont::Bold), Kestal::text, this);
    name->setObjectName("sidebarBrand");
    brand->addWidget(name);
    brand->addStretch(1);
    column_->addLayout(brand);

    auto* list = new QVBoxLayout;
    list->setContentsMargins(12, 0, 12, 0);
    list->setSpacing(2);
    for (Page page : pages::allCases) {
        auto* button = new QPushButton(pages::rawValue(page), this);
        button->setObjectName("sidebarPage" + pages::rawValue(page));
        button->setFont(Kestal::body());
        button->setCursor(Qt::PointingHandCursor);
        button->setFlat(true);
        button->setIconSize(QSize(16, 16));
        connect(button, &QPushButton::clicked, this, [this, page] { nav_.setPage(page); });
        buttons_[page] = button;
        list->addWidget(button);
    }
    column_->addLayout(list);
    column_->addStretch(1);

    auto* divider = new QFrame(this);
    divider->setFixedHeight(1);
    divider->setStyleSheet(QString("background: %1;").arg(Kestal::css(Kestal::border)));
    column_->addWidget(divider);

    connect(&nav_, &MainNav::pageChanged, this, [this] { updateSelection(); });
    connect(&backend_, &BackendClient::changed, this, [this] { rebuildAccount(); });
    updateSelection();
    rebuildAccount();
}

QString Sidebar::initials(const QString& email) {
    // Characters as the reader sees them (a letter with its accents, an emoji), not code units.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, email);
    int end = 0;
    for (int i = 0; i < 2; ++i) {
        const int next = finder.toNextBoundary();
        if (next < 0) break;
        end = next;
    }
    return email.left(end).toUpper();
}

QString Sidebar::planTitle(const QString& plan) {
    QString out;
    bool startOfWord = true;
    for (const QChar c : plan) {
        if (c.isSpace()) {
            startOfWord = true;
            out += c;
        } else {
            out += startOfWord ? c.toUpper() : c.toLower();
            startOfWord = false;
        }
    }
    return out + " Plan";
}

void Sidebar::updateSelection() {
    for (auto& [page, button] : buttons_) {
        const bool selected = page == nav_.page();
        const QColor color = selected ? Kestal::blue : Kestal::dim;
        button->setIcon(Symbols::icon(pages::symbol(page), color));
        button->setProperty("selected", selected);
        button->setStyleSheet(QString("QPushButton { text-align: left; padding: 8px 12px; border: none;"
                                      " border-radius: 8px; color: %1; background: %2; }")
                                  .arg(Kestal::css(color), selected ? Kestal::css(Kestal::elev) : "transparent"));
    }
}

void Sidebar::rebuildAccount() {
    if (account_) {
        column_->removeWidget(account_);
        account_->hide();
        account_->deleteLater();
    }
    account_ = new QWidget(this);
    auto* block = new QVBoxLayout(account_);
    block->setContentsMargins(14, 12, 14, 12);
    block->setSpacing(8);

    if (const auto& user = backend_.user()) {
        account_->setObjectName("sidebarAccountSignedIn");
        const QString email = QString::fromStdString(user->email);
        auto* identity = new QHBoxLayout;
        identity->setSpacing(8);
        QColor fill = Kestal::blue;
        fill.setAlphaF(0.2);
        auto* avatar = textLabel(initials(email), Kestal::font(10, QFont::Bold), Kestal::text, account_);
        avatar->setObjectName("sidebarAvatar");
        avatar->setAlignment(Qt::AlignCenter);
        avatar->setFixedSize(26, 26);
        avatar->setStyleSheet(QString("color: %1; background: %2; border-radius: 13px;")
                                  .arg(Kestal::css(Kestal::text), Kestal::css(fill)));
        identity->addWidget(avatar);
        auto* names = new QVBoxLayout;
        names->setSpacing(1);
        auto* address = textLabel(email, Kestal::caption(), Kestal::text, account_);
        address->setObjectName("sidebarEmail");
        address->setMinimumWidth(0);
        address->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        names->addWidget(address);
        auto* plan = textLabel(planTitle(QString::fromStdString(user->plan)), Kestal::caption2(), Kestal::dim, account_);
        plan->setObjectName("sidebarPlan");
        names->addWidget(plan);
        identity->addLayout(names, 1);
        block->addLayout(identity);

        auto* credits = new QHBoxLayout;
        credits->setSpacing(6);
        credits->addWidget(symbolLabel("creditcard.circle.fill", 14, Kestal::dim, account_));
        credits->addWidget(textLabel("Credits", Kestal::callout(), Kestal::dim, account_));
        credits->addStretch(1);
        auto* balance = textLabel(QString::number(user->creditBalance), Kestal::font(12, QFont::DemiBold),
                                  Kestal::text, account_);
        balance->setObjectName("sidebarCredits");
        credits->addWidget(balance);
        block->addLayout(credits);
    } else {
        account_->setObjectName("sidebarAccountSignedOut");
        auto* signIn = new QPushButton(Symbols::icon("person.crop.circle", Kestal::dim), "Sign in", account_);
        signIn->setObjectName("sidebarSignIn");
        signIn->setFont(Kestal::body());
        signIn->setCursor(Qt::PointingHandCursor);
        signIn->setFlat(true);
        signIn->setStyleSheet(QString("QPushButton { text-align: left; border: none; padding: 0; color: %1; }")
                                  .arg(Kestal::css(Kestal::text)));
        connect(signIn, &QPushButton::clicked, this, [this] { nav_.setPage(Page::settings); });
        block->addWidget(signIn);
    }
    column_->addWidget(account_);
}
