// The Shortcuts page: the key names it shows and the two pickers writing the key settings, the
// cancel picker never offering the push-to-talk key; in a Wayland session, what the desktop
// answered, and our GNOME shortcut.
#include "state/AppSettings.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/FakeCustomShortcut.h"
#include "platform/FakePastePermission.h"
#include "support/Child.h"
#include "support/TestEnvironment.h"
#include "ui/main/ShortcutRow.h"
#include "ui/main/ShortcutsPage.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

class ShortcutsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
    }
    static QStringList options(const QComboBox* combo) {
        QStringList out;
        for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
        return out;
    }
    static void choose(QComboBox* combo, const QString& name) {
        const int index = combo->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        combo->setCurrentIndex(index);
    }
    const QString fn = QStringLiteral("Fn / Menu");
    const QString command = QStringLiteral("Right Super");
    const QString option = QStringLiteral("Right Alt");
    const QString control = QStringLiteral("Right Ctrl");
};

TEST_F(ShortcutsPageTest, RowsNameThePushToTalkKeyAndFallBackToFn) {
    ShortcutsPage page;
    EXPECT_EQ(page.row(0)->keys(), fn);
    EXPECT_EQ(page.row(1)->keys(), fn + " (tap)");
    EXPECT_EQ(page.row(2)->keys(), "auto");
    EXPECT_TRUE(page.row(0)->active());
    EXPECT_FALSE(page.row(2)->active());
    EXPECT_EQ(page.row(2)->findChild<QWidget*>("activeBadge"), nullptr);
    EXPECT_EQ(options(test::child<QComboBox>(page, "pttPicker")), (QStringList{fn, command, option, control}));
    EXPECT_EQ(options(test::child<QComboBox>(page, "cancelPicker")), (QStringList{"Disabled", command, option, control}));
    EXPECT_EQ(test::child<QComboBox>(page, "cancelPicker")->currentText(), command);

    AppSettings::shared().setPttKeyCode(61);  // changed elsewhere: the page follows
    EXPECT_EQ(page.row(0)->keys(), option);
    EXPECT_EQ(test::child<QComboBox>(page, "pttPicker")->currentText(), option);

    AppSettings::shared().setPttKeyCode(99);
    EXPECT_EQ(page.row(0)->keys(), fn);
    EXPECT_EQ(page.row(1)->keys(), fn + " (tap)");
    EXPECT_EQ(test::child<QComboBox>(page, "pttPicker")->currentIndex(), -1);  // no option stands for 99
    EXPECT_EQ(ShortcutsPage::keyName(0), fn);
}

TEST_F(ShortcutsPageTest, PickersWriteTheKeyCodesAndTheCancelKeyNeverEqualsPushToTalk) {
    int pttAnnouncements = 0;
    QObject listener;
    QObject::connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, &listener,
                     [&](const std::string& name) { pttAnnouncements += name == "wendaro.pttKeyChanged"; });
    ShortcutsPage page;

    // The push-to-talk key becomes the cancel key's current choice: it leaves the cancel options
    // at once and the cancel picker shows nothing; the stored cancel code stays and counts as off.
    choose(test::child<QComboBox>(page, "pttPicker"), command);
    EXPECT_EQ(AppSettings::shared().pttKeyCode(), 54);
    EXPECT_EQ(test::fakes().defaults.integer("pttKeyCode"), 54);
    EXPECT_EQ(pttAnnouncements, 1);
    EXPECT_EQ(page.row(0)->keys(), command);
    EXPECT_EQ(options(test::child<QComboBox>(page, "cancelPicker")), (QStringList{"Disabled", fn, option, control}));
    EXPECT_EQ(test::child<QComboBox>(page, "cancelPicker")->currentIndex(), -1);
    EXPECT_EQ(AppSettings::shared().cancelKeyCode(), 54);
    EXPECT_EQ(HotkeyMonitor::effectiveCancelKeyCode(), 0);

    choose(test::child<QComboBox>(page, "cancelPicker"), control);
    EXPECT_EQ(AppSettings::shared().cancelKeyCode(), 62);
    choose(test::child<QComboBox>(page, "cancelPicker"), "Disabled");
    EXPECT_EQ(AppSettings::shared().cancelKeyCode(), 0);
    EXPECT_EQ(test::fakes().defaults.integer("cancelKeyCode"), 0);

    // Moving the push-to-talk key back offers Right Command to cancel again, "Disabled" still chosen.
    choose(test::child<QComboBox>(page, "pttPicker"), fn);
    EXPECT_EQ(options(test::child<QComboBox>(page, "cancelPicker")), (QStringList{"Disabled", command, option, control}));
    EXPECT_EQ(test::child<QComboBox>(page, "cancelPicker")->currentText(), "Disabled");
    EXPECT_EQ(AppSettings::shared().pttKeyCode(), 63);
    EXPECT_EQ(pttAnnouncements, 2);
}

TEST_F(ShortcutsPageTest, TroubleshootingStartsCollapsed) {
    ShortcutsPage page;
    EXPECT_TRUE(test::child<QWidget>(page, "troubleshootingContent")->isHidden());
    test::child<QToolButton>(page, "troubleshooting")->click();
    EXPECT_FALSE(test::child<QWidget>(page, "troubleshootingContent")->isHidden());
    test::child<QToolButton>(page, "troubleshooting")->click();
    EXPECT_TRUE(test::child<QWidget>(page, "troubleshootingContent")->isHidden());
}

TEST_F(ShortcutsPageTest, TheSessionStatusAndWhatToDoWhenTheKeyCannotReachUs) {
    using platform::SessionChoice;
    using namespace platform;
    struct Restore {
        SessionChoice saved = SessionChoice::current();
        ~Restore() { SessionChoice::setCurrent(saved); }
    } restore;
    auto label = [](const ShortcutsPage& page, const char* name) { return test::child<QLabel>(page, name); };

    SessionChoice::setCurrent({});  // an X11 session: nothing to do
    {
        ShortcutsPage page;
        EXPECT_EQ(label(page, "sessionStatus")->text(), QString::fromUtf8("Key: X11 \u00b7 Paste: X11"));
        EXPECT_TRUE(label(page, "sessionAdvice")->isHidden());
        EXPECT_TRUE(label(page, "sessionBindings")->isHidden());
        EXPECT_TRUE(label(page, "pastePermissionNote")->isHidden());
        EXPECT_TRUE(test::child<QWidget>(page, "customShortcut")->isHidden());
    }

    const QString program = ShortcutsPage::programCommand();
    SessionChoice::setCurrent({DesktopKind::sway, KeySource::compositorBinding, ClipboardPath::system, PastePath::clipboardOnly});
    {
        ShortcutsPage page;
        EXPECT_EQ(label(page, "sessionStatus")->text(),
                  QString::fromUtf8("Key: compositor binding \u00b7 Paste: clipboard only"));
        EXPECT_EQ(label(page, "sessionBindings")->text(), "bindsym --no-repeat Menu exec " + program +
                                                              " --ptt-down\nbindsym --release Menu exec " + program +
                                                              " --ptt-up");
        EXPECT_FALSE(label(page, "sessionAdvice")->text().contains("modifier"));
        // A modifier as push-to-talk key is never bound alone: the lines keep the Menu key.
        AppSettings::shared().setPttKeyCode(62);
        EXPECT_TRUE(label(page, "sessionAdvice")->text().startsWith("Right Ctrl is a modifier"));
        EXPECT_TRUE(label(page, "sessionBindings")->text().contains("--release Menu exec"));
    }

    // KDE: the key the desktop bound is shown. It cannot bind Right Ctrl alone, and a bound Menu
    // lets its release through to the program in front: a key that does not is suggested.
    SessionChoice kde{DesktopKind::kde, KeySource::desktopShortcut, ClipboardPath::dataControl, PastePath::kdeFakeInput};
    kde.keyTrigger = "Menu";
    SessionChoice::setCurrent(kde);
    {
        ShortcutsPage page;
        EXPECT_EQ(label(page, "sessionStatus")->text(),
                  QString::fromUtf8("Key: desktop shortcut (Menu) \u00b7 Paste: KDE fake input"));
        const QString kdeAdvice = label(page, "sessionAdvice")->text();
        EXPECT_TRUE(kdeAdvice.startsWith("KDE cannot bind Right Ctrl alone, so Tovrin asked for Menu.")) << kdeAdvice.toStdString();
        EXPECT_TRUE(kdeAdvice.contains("Pause or F9")) << kdeAdvice.toStdString();
    }

    SessionChoice::setCurrent({DesktopKind::gnome, KeySource::xwaylandOnly, ClipboardPath::system, PastePath::clipboardOnly});
    ShortcutsPage gnome;
    EXPECT_TRUE(label(gnome, "sessionBindings")->isHidden());
    const QString advice = label(gnome, "sessionAdvice")->text();
    EXPECT_TRUE(advice.contains("Custom Shortcuts with the command " + program + " --toggle")) << advice.toStdString();
}

struct GnomeSession {
    platform::SessionChoice saved = platform::SessionChoice::current();
    platform::FakePastePermission permission;
    platform::FakeCustomShortcut shortcut;
    GnomeSession() {
        using namespace platform;
        SessionChoice::setCurrent({DesktopKind::gnome, KeySource::xwaylandOnly, ClipboardPath::system, PastePath::clipboardOnly});
        PastePermission::setShared(&permission);
        CustomShortcut::setShared(&shortcut);
    }
    ~GnomeSession() {
        platform::PastePermission::setShared(nullptr);
        platform::CustomShortcut::setShared(nullptr);
        platform::SessionChoice::setCurrent(saved);
    }
};

TEST_F(ShortcutsPageTest, WhileShownThePageFollowsTheDesktopsAnswers) {
    using namespace platform;
    GnomeSession gnome;
    ShortcutsPage page;
    page.show();
    auto status = [&] { return test::child<QLabel>(page, "sessionStatus")->text(); };
    auto* ask = test::child<QPushButton>(page, "askPastePermission");
    const QLabel* note = test::child<QLabel>(page, "pastePermissionNote");

    // Before the desktop's dialog opens the page says what it will ask, and that it asks again at
    // each start where it keeps no grant.
    EXPECT_TRUE(status().endsWith("not granted")) << status().toStdString();
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains("each start"));
    ASSERT_FALSE(ask->isHidden());
    ask->click();
    EXPECT_EQ(gnome.permission.requests, 1);
    EXPECT_TRUE(ask->isHidden()) << "no second request while the dialog is up";

    gnome.permission.answer = PastePermission::State::granted;
    gnome.permission.keepsGrant = true;
    SessionChoice now = SessionChoice::current();
    now.key = KeySource::desktopShortcut;
    now.keyTrigger = "Ctrl+Alt+D";
    SessionChoice::setCurrent(now);
    test::fakes().scheduler.advance(ShortcutsPage::kPollSeconds);
    EXPECT_TRUE(status().endsWith("granted") && !status().contains("not granted")) << status().toStdString();
    EXPECT_TRUE(note->text().contains("once"));
    // The desktop owns the key: the rows name the key it reports, not the stored one.
    EXPECT_EQ(page.row(0)->keys(), "Ctrl+Alt+D");
    EXPECT_EQ(page.row(1)->keys(), "Ctrl+Alt+D (tap)");

    gnome.permission.answer = PastePermission::State::notGranted;  // the desktop ended the session
    test::fakes().scheduler.advance(ShortcutsPage::kPollSeconds);
    EXPECT_TRUE(status().endsWith("not granted"));
    EXPECT_FALSE(ask->isHidden());

    page.hide();
    test::fakes().scheduler.advance(10);
    EXPECT_EQ(test::fakes().scheduler.pendingCount(), 0u) << "nothing is read while the page is hidden";
}

TEST_F(ShortcutsPageTest, TheGnomeShortcutButtonAddsAndRemovesOursAndSaysWhenGnomeRefuses) {
    GnomeSession gnome;
    AppSettings::shared().setPttKeyCode(62);  // a modifier: GNOME cannot bind it alone
    ShortcutsPage page;
    auto* box = test::child<QWidget>(page, "customShortcut");
    auto* button = test::child<QPushButton>(page, "customShortcutButton");
    auto* error = test::child<QLabel>(page, "customShortcutError");
    ASSERT_FALSE(box->isHidden());
    EXPECT_TRUE(test::child<QLabel>(page, "sessionAdvice")->text().contains("button below"));

    button->click();
    EXPECT_TRUE(gnome.shortcut.present);
    EXPECT_EQ(gnome.shortcut.keyCode, 63) << "on the Menu key";
    EXPECT_EQ(QString::fromStdString(gnome.shortcut.command), ShortcutsPage::programCommand() + " --toggle");
    EXPECT_TRUE(error->isHidden());
    const QString added = button->text();

    // GNOME's settings refuse: nothing is claimed, and the page says what to do instead.
    gnome.shortcut.refuse = true;
    button->click();
    EXPECT_TRUE(gnome.shortcut.present);
    EXPECT_EQ(button->text(), added);
    EXPECT_FALSE(error->isHidden());
    EXPECT_TRUE(error->text().contains("Custom Shortcuts"));

    gnome.shortcut.refuse = false;
    button->click();
    EXPECT_FALSE(gnome.shortcut.present);
    EXPECT_NE(button->text(), added);
    EXPECT_TRUE(error->isHidden());

    // A first add refused says how to add it by hand.
    gnome.shortcut.refuse = true;
    button->click();
    EXPECT_FALSE(gnome.shortcut.present);
    EXPECT_TRUE(error->text().contains(ShortcutsPage::programCommand() + " --toggle"));

    // Where the key reaches us from every program, none of ours is offered.
    platform::SessionChoice now = platform::SessionChoice::current();
    now.key = platform::KeySource::inputDevices;
    platform::SessionChoice::setCurrent(now);
    ShortcutsPage devices;
    EXPECT_TRUE(test::child<QWidget>(devices, "customShortcut")->isHidden());
}

}  // namespace
