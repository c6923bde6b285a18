#include "ui/main/MainWindow.h"

#include "ui/kit/Kestal.h"
#include "ui/main/DictionaryPage.h"
#include "ui/main/HistoryPage.h"
#include "ui/main/HomePage.h"
#include "ui/main/MainNav.h"
#include "ui/main/SettingsPage.h"
#include "ui/main/ShortcutsPage.h"
#include "ui/main/Sidebar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

MainWindow::MainWindow(MainNav& nav, BackendClient& backend, Database& store, QWidget* parent)
    : QWidget(parent), nav_(nav), backend_(backend), store_(store) {
    setMinimumSize(minimumWidth, minimumHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    const std::pair<QPalette::ColorRole, QColor> roles[] = {
        {QPalette::Window, Kestal::bg},          {QPalette::WindowText, Kestal::text},
        {QPalette::Base, Kestal::surface},       {QPalette::AlternateBase, Kestal::elev},
        {QPalette::Text, Kestal::text},          {QPalette::PlaceholderText, Kestal::faint},
        {QPalette::Button, Kestal::surface},     {QPalette::ButtonText, Kestal::text},
        {QPalette::Highlight, Kestal::blue},     {QPalette::HighlightedText, Kestal::text},
        {QPalette::ToolTipBase, Kestal::elev},   {QPalette::ToolTipText, Kestal::text},
    };
    for (const auto& [role, color] : roles) pal.setColor(role, color);
    setPalette(pal);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    sidebar_ = new Sidebar(nav_, backend_, this);
    sidebar_->setObjectName("sidebar");
    row->addWidget(sidebar_);
    auto* divider = new QFrame(this);
    divider->setFixedWidth(1);
    divider->setStyleSheet(QString("background: %1;").arg(Kestal::css(Kestal::border)));
    row->addWidget(divider);
    area_ = new QWidget(this);
    area_->setObjectName("pageArea");
    area_->setAutoFillBackground(true);
    area_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    areaLayout_ = new QVBoxLayout(area_);
    areaLayout_->setContentsMargins(0, 0, 0, 0);
    row->addWidget(area_, 1);

    connect(&nav_, &MainNav::pageChanged, this, [this](Page page) { showPage(page); });
    showPage(nav_.page());
}

void MainWindow::showPage(Page page) {
    if (holder_) {
        // The old page may be the one whose button asked for the change: let it go afterwards.
        // It stays a child meanwhile, so it never outlives the window and what the window uses.
        areaLayout_->removeWidget(holder_);
        holder_->hide();
        holder_->deleteLater();
        holder_ = nullptr;
    }
    shown_ = page;
    scroll_ = nullptr;

    if (page == Page::settings) {
        page_ = new SettingsPage(area_);
        holder_ = page_;
    } else {
        scroll_ = new QScrollArea(area_);
        scroll_->setObjectName("pageScroll");
        scroll_->setFrameShape(QFrame::NoFrame);
        scroll_->setWidgetResizable(true);
        scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        auto* padded = new QWidget;
        padded->setObjectName("pagePadding");
        auto* column = new QVBoxLayout(padded);
        column->setContentsMargins(24, 24, 24, 24);
        column->setSpacing(0);
        switch (page) {
            case Page::home:
                page_ = new HomePage([this](Page p) { nav_.setPage(p); }, backend_, store_, padded);
                break;
            case Page::history: page_ = new HistoryPage(store_, padded); break;
            case Page::dictionary: page_ = new DictionaryPage(store_, padded); break;
            case Page::shortcuts: page_ = new ShortcutsPage(padded); break;
            case Page::settings: break;
        }
        // The long lists fill the page's height and scroll within it; the other pages take
        // their own height.
        if (page == Page::history || page == Page::dictionary) {
            column->addWidget(page_, 1);
        } else {
            column->addWidget(page_);
            column->addStretch(1);
        }
        scroll_->setWidget(padded);
        holder_ = scroll_;
    }
    areaLayout_->addWidget(holder_);
    holder_->show();
}
