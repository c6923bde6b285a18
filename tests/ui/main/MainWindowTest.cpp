// The main window: building it once and bringing the same window back, the page it opens on, the
// minimum size, the page area (Settings unscrolled, the others scrolled and padded, each page built
// afresh on selection) and the sidebar's account block.
#include "state/Database.h"
#include "cloud/BackendClient.h"
#include "platform/Paths.h"
#include "support/Child.h"
#include "support/FakeAccountService.h"
#include "support/TaskWait.h"
#include "support/TempFolder.h"
#include "support/TestEnvironment.h"
#include "ui/kit/AppIconPicker.h"
#include "ui/main/HistoryPage.h"
#include "ui/main/MainNav.h"
#include "ui/main/MainWindow.h"
#include "ui/main/MainWindowController.h"
#include "ui/main/SettingsPage.h"
#include "ui/main/Sidebar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <memory>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
    }
};

TEST_F(MainWindowTest, PagesInSidebarOrderWithExactTitles) {
    QStringList titles;
    for (Page p : pages::allCases) titles << pages::rawValue(p);
    EXPECT_EQ(titles, (QStringList{"Home", "History", "Dictionary", "Shortcuts", "Settings"}));
    for (Page p : pages::allCases) EXPECT_EQ(pages::fromRawValue(pages::rawValue(p)), p);
    EXPECT_EQ(pages::fromRawValue("home"), std::nullopt);
    EXPECT_EQ(pages::fromRawValue("Home "), std::nullopt);
    EXPECT_EQ(pages::fromRawValue(""), std::nullopt);
}

TEST_F(MainWindowTest, ControllerBuildsOneWindowAndBringsItBackWhereTheUserLeftIt) {
    auto& controller = MainWindowController::shared();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_FALSE(controller.isVisible());

    controller.show(std::nullopt);  // the first show opens on Home
    MainWindow* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(window->windowTitle(), "Tovrin");
    EXPECT_EQ(window->size(), QSize(920, 620));
    EXPECT_EQ(window->shownPage(), Page::home);

    // Resizing below the minimum is not possible.
    window->resize(500, 300);
    EXPECT_EQ(window->size(), QSize(860, 560));

    test::child<QPushButton>(window, "sidebarPage" + pages::rawValue(Page::dictionary))->click();
    EXPECT_EQ(MainNav::shared().page(), Page::dictionary);
    EXPECT_EQ(window->shownPage(), Page::dictionary);
    window->resize(1000, 700);
    window->move(40, 50);
    const QPoint where = window->pos();

    window->close();
    EXPECT_FALSE(controller.isVisible());
    controller.show(std::nullopt);  // keeps the page last selected
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(window->shownPage(), Page::dictionary);
    EXPECT_EQ(window->size(), QSize(1000, 700));
    EXPECT_EQ(window->pos(), where);

    window->close();
    controller.show(Page::history);  // while hidden: opens on History
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(window->shownPage(), Page::history);
    EXPECT_NE(qobject_cast<HistoryPage*>(window->pageWidget()), nullptr);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class MainWindowPagesTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        store_ = std::make_unique<Database>(folder_.path() + "/Wendaro");
        MainNav::shared().setPage(Page::home);
    }
    test::TempFolder folder_;
    std::unique_ptr<Database> store_;
};

TEST_F(MainWindowPagesTest, SettingsFillsTheAreaUnscrolledEveryOtherPageIsScrolledAndPadded) {
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);
    EXPECT_EQ(window.minimumSize(), QSize(860, 560));
    for (Page p : pages::allCases) {
        MainNav::shared().setPage(p);
        ASSERT_EQ(window.shownPage(), p);
        ASSERT_NE(window.pageWidget(), nullptr);
        if (p == Page::settings) {
            EXPECT_EQ(window.pageScroll(), nullptr);
            EXPECT_NE(qobject_cast<SettingsPage*>(window.pageWidget()), nullptr);
            EXPECT_EQ(window.pageWidget()->parentWidget()->objectName(), "pageArea");
        } else {
            ASSERT_NE(window.pageScroll(), nullptr) << pages::rawValue(p).toStdString();
            QWidget* padding = window.pageScroll()->widget();
            EXPECT_EQ(padding->layout()->contentsMargins(), QMargins(24, 24, 24, 24));
            EXPECT_EQ(window.pageWidget()->parentWidget(), padding);
        }
        for (Page q : pages::allCases)
            EXPECT_EQ(test::child<QPushButton>(window, "sidebarPage" + pages::rawValue(q))->property("selected").toBool(), p == q);
    }
}

TEST_F(MainWindowPagesTest, AtTheMinimumSizeEveryPageFitsItsAreaWithoutClipping) {
    store_->insertHistory(QString::fromUtf8("Довгий запис, що переноситься на кілька рядків у списку").toStdString(), 9,
                          4.2, "uk");
    store_->dictAdd("клод код", "Claude Code");
    // One unbroken token far wider than the page (a long link) wraps inside its row.
    const std::string link = "https://example.com/" + std::string(280, 'a');
    store_->insertHistory("see " + link, 2, 1.0, "en");
    store_->dictAdd(link, std::string(300, '7'));
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);
    window.resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
    window.show();
    for (Page p : pages::allCases) {
        if (p == Page::settings) continue;
        MainNav::shared().setPage(p);
        QApplication::processEvents();
        ASSERT_EQ(window.size(), QSize(860, 560));
        // The horizontal scroll bar is off: anything wider than the padded area would be cut.
        EXPECT_LE(window.pageWidget()->minimumSizeHint().width() + 48, window.pageScroll()->viewport()->width())
            << pages::rawValue(p).toStdString();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The Settings page ends at its last section, at the smallest and at the first size of the
// window: no scrolling into empty space below it.
TEST_F(MainWindowPagesTest, TheSettingsPageEndsAtItsLastSection) {
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);
    window.show();
    MainNav::shared().setPage(Page::settings);
    for (const QSize size : {QSize(MainWindow::minimumWidth, MainWindow::minimumHeight),
                             QSize(MainWindowController::initialWidth, MainWindowController::initialHeight)}) {
        window.resize(size);
        QApplication::processEvents();
        auto* page = qobject_cast<SettingsPage*>(window.pageWidget());
        ASSERT_NE(page, nullptr);
        QWidget* content = test::child<QScrollArea>(page, "settingsScroll")->widget();
        const QWidget* last = content->findChild<QWidget*>("appIconSection");
        const auto* picker = content->findChild<AppIconPicker*>();
        ASSERT_TRUE(last && picker);
        // The layout settles over a few turns of the loop.
        auto end = [&] {
            const int below = last->geometry().bottom() + 1 + content->layout()->contentsMargins().bottom();
            return std::max(below, test::child<QScrollArea>(page, "settingsScroll")->viewport()->height());
        };
        test::pumpUntil([&] { return content->height() <= end(); }, 3);
        EXPECT_LE(content->height(), end()) << size.width();
        EXPECT_EQ(picker->height(), picker->heightForWidth(picker->width())) << size.width();
    }
}

TEST_F(MainWindowPagesTest, ReselectingAPageStartsItAfresh) {
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);
    test::child<QPushButton>(window, "sidebarPage" + pages::rawValue(Page::history))->click();
    auto* history = qobject_cast<HistoryPage*>(window.pageWidget());
    ASSERT_NE(history, nullptr);
    test::child<QLineEdit>(history, "historySearch")->setText("draft");
    test::child<QPushButton>(history, "starredFilter")->setChecked(true);

    test::child<QPushButton>(window, "sidebarPage" + pages::rawValue(Page::home))->click();
    test::child<QPushButton>(window, "sidebarPage" + pages::rawValue(Page::history))->click();
    history = qobject_cast<HistoryPage*>(window.pageWidget());
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(test::child<QLineEdit>(history, "historySearch")->text().isEmpty());
    EXPECT_FALSE(test::child<QPushButton>(history, "starredFilter")->isChecked());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the old pages go
    EXPECT_EQ(window.findChildren<HistoryPage*>().size(), 1);
}

TEST_F(MainWindowPagesTest, AccountBlockFollowsSignInAndOutAndSignInOpensSettings) {
    test::FakeAccountService service;
    test::fakes().defaults.setString("backendURL", service.baseURL());
    service.addAccount("ann@example.com", "correct horse", 40, "pro monthly");
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);

    auto* signIn = test::child<Sidebar>(window, "sidebar")->accountBlock()->findChild<QPushButton*>("sidebarSignIn");
    ASSERT_NE(signIn, nullptr);
    EXPECT_EQ(signIn->text(), "Sign in");
    signIn->click();
    EXPECT_EQ(MainNav::shared().page(), Page::settings);
    EXPECT_EQ(window.shownPage(), Page::settings);

    test::await(backend.login("ann@example.com", "correct horse"));
    QWidget* block = test::child<Sidebar>(window, "sidebar")->accountBlock();
    EXPECT_EQ(block->objectName(), "sidebarAccountSignedIn");
    EXPECT_EQ(block->findChild<QLabel*>("sidebarAvatar")->text(), "AN");
    EXPECT_EQ(block->findChild<QLabel*>("sidebarEmail")->text(), "ann@example.com");
    EXPECT_EQ(block->findChild<QLabel*>("sidebarPlan")->text(), "Pro Monthly Plan");
    EXPECT_EQ(block->findChild<QLabel*>("sidebarCredits")->text(), "40");

    test::await(backend.logout());
    EXPECT_NE(test::child<Sidebar>(window, "sidebar")->accountBlock()->findChild<QPushButton*>("sidebarSignIn"), nullptr);

    // An address or a plan that looks like markup is shown exactly as it is.
    service.addAccount("<b>bo</b>@example.com", "correct horse", 7, "<i>team</i>");
    test::await(backend.login("<b>bo</b>@example.com", "correct horse"));
    block = test::child<Sidebar>(window, "sidebar")->accountBlock();
    for (const char* name : {"sidebarEmail", "sidebarPlan", "sidebarAvatar"}) {
        auto* label = block->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
    }
    EXPECT_EQ(block->findChild<QLabel*>("sidebarEmail")->text(), "<b>bo</b>@example.com");
    EXPECT_EQ(block->findChild<QLabel*>("sidebarPlan")->text(), "<i>team</i> Plan");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MainWindowPagesTest, AvatarTakesTwoWholeCharactersUpperCased) {
    EXPECT_EQ(Sidebar::initials("x"), "X");
    EXPECT_EQ(Sidebar::initials(""), "");
    EXPECT_EQ(Sidebar::initials(QString::fromUtf8("юлія@пошта.укр")), QString::fromUtf8("ЮЛ"));
    // An accented letter written as letter + combining mark counts as one character.
    EXPECT_EQ(Sidebar::initials(QString::fromUtf8("e\u0301va@x.io")), QString::fromUtf8("E\u0301V"));
    EXPECT_EQ(Sidebar::initials(QString::fromUtf8("\U0001F600z@x.io")), QString::fromUtf8("\U0001F600Z"));
    EXPECT_EQ(Sidebar::planTitle("free"), "Free Plan");
    EXPECT_EQ(Sidebar::planTitle("PRO"), "Pro Plan");
}

TEST_F(MainWindowPagesTest, TheDictionaryExamplesStayWholeInTheSmallestWindow) {
    BackendClient backend;
    MainWindow window(MainNav::shared(), backend, *store_);
    window.resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
    window.show();
    MainNav::shared().setPage(Page::dictionary);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const char* name : {"newTerm", "newReplacement"}) {
        auto* field = test::child<QLineEdit>(window, name);
        QStyleOptionFrame option;
        option.initFrom(field);
        option.rect = field->rect();
        const QRect text = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
        // Qt keeps 2 pixels clear on each side of a field's text.
        EXPECT_GE(text.width() - 4, QFontMetrics(field->font()).horizontalAdvance(field->placeholderText())) << name;
    }
    auto* add = test::child<QPushButton>(window, "addTerm");
    EXPECT_LE(add->mapTo(window.pageScroll()->viewport(), QPoint(add->width(), 0)).x(),
              window.pageScroll()->viewport()->width());
}

}  // namespace
