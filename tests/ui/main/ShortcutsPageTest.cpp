// The Shortcuts page: the key names it shows and the two pickers writing the key settings, the
// cancel picker never offering the push-to-talk key.
#include "state/AppSettings.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "support/Child.h"
#include "support/TestEnvironment.h"
#include "ui/main/ShortcutRow.h"
#include "ui/main/ShortcutsPage.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
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

}  // namespace
