#include "ui/main/ShortcutsPage.h"

#include "state/AppSettings.h"
#include "dictation/HotkeyMonitor.h"
#include "ui/kit/Kestal.h"
#include "platform/Symbols.h"
#include "ui/main/PageHeader.h"
#include "ui/main/RoundedBox.h"
#include "ui/main/ShortcutRow.h"
#include "ui/main/SmallButton.h"
#include "ui/kit/KestalErrorText.h"

#include "platform/CustomShortcut.h"
#include "platform/KeyEvents.h"
#include "platform/MainQueue.h"
#include "platform/PastePermission.h"
#include "platform/Paths.h"

#include <QComboBox>
#include <QFileInfo>
#include <QStandardPaths>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

RoundedBox* box(QWidget* parent) {
    auto* b = new RoundedBox(8, RoundedBox::quaternary(0.3), parent);
    return b;
}

QLabel* text(const QString& s, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(s, parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setStyleSheet(QString("color: %1;").arg(Kestal::css(color)));
    return label;
}

QComboBox* picker(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setFixedWidth(200);
    combo->setFont(Kestal::body());
    return combo;
}

// The desktop's paste permission, where it asks the user for one and can be asked.
bool pastePermissionAsked() {
    return platform::PastePermission::isInstalled() &&
           platform::PastePermission::shared().state() != platform::PastePermission::State::unavailable;
}

// Whether the page can offer our GNOME shortcut (or its removal): the desktop's settings take one,
// and either it is there or the key cannot reach us from every program otherwise.
bool offersCustomShortcut(const platform::SessionChoice& choice) {
    if (!platform::CustomShortcut::isInstalled()) return false;
    auto& shortcut = platform::CustomShortcut::shared();
    if (!shortcut.available()) return false;
    return shortcut.installed() || (choice.desktop == platform::DesktopKind::gnome && !choice.keyWorksEverywhere());
}

const QString kCustomShortcutsPlace = QString::fromUtf8(
    "Settings \u2192 Keyboard \u2192 View and Customize Shortcuts \u2192 Custom Shortcuts");

}  // namespace

QString ShortcutsPage::sessionStatus(const platform::SessionChoice& choice) {
    QString paste = QString::fromStdString(choice.pasteStatus());
    if (pastePermissionAsked()) {
        const bool granted = platform::PastePermission::shared().state() == platform::PastePermission::State::granted;
        paste = QString::fromUtf8("Paste: remote desktop permission \u2014 ") + (granted ? "granted" : "not granted");
    }
    return QString::fromStdString(choice.keyStatus()) + QString::fromUtf8(" \u00b7 ") + paste;
}

QString ShortcutsPage::programCommand() {
    const QString self = QString::fromStdString(platform::Paths::launcher());
    const QString onPath = QStandardPaths::findExecutable("tovrin");
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == QFileInfo(self).canonicalFilePath())
        return "tovrin";
    if (self.isEmpty()) return "tovrin";
    return self.contains(' ') ? "\"" + self + "\"" : self;
}

QStringList ShortcutsPage::bindingLines(const platform::SessionChoice& choice) {
    if (choice.desktop != platform::DesktopKind::sway || choice.key != platform::KeySource::compositorBinding) return {};
    // The Menu key stands for Fn; the other keys are modifiers, which must not be bound alone (a
    // bound Right Ctrl breaks every Right-Ctrl chord), so Menu stands in for them too.
    const QString key = "Menu";
    const QString program = programCommand();
    return {"bindsym --no-repeat " + key + " exec " + program + " --ptt-down",
            "bindsym --release " + key + " exec " + program + " --ptt-up"};
}

QString ShortcutsPage::keyAdvice(const platform::SessionChoice& choice, int pttCode) {
    using platform::DesktopKind;
    using platform::KeySource;
    const QString program = programCommand();
    const QString toggle = program + " --toggle";
    switch (choice.key) {
    case KeySource::x11: return {};
    case KeySource::desktopShortcut: {
        if (choice.desktop != DesktopKind::kde) return {};
        // KDE names the shortcut's group after our session: "tovrin".
        const QString where = QString::fromUtf8("System Settings \u2192 Shortcuts \u2192 tovrin");
        if (choice.keyTrigger.empty()) return "KDE has no key bound for push-to-talk yet: choose one in " + where + ".";
        const QString trigger = QString::fromStdString(choice.keyTrigger);
        QString advice;
        if (pttCode != platform::KeyCode::function)
            advice = "KDE cannot bind " + keyName(pttCode) + " alone, so Tovrin asked for Menu. ";
        static const QStringList leaky = {"Menu", "Ctrl", "Alt", "Meta", "Shift"};
        if (leaky.contains(trigger))
            advice += "KDE keeps the press of " + trigger + " from the program in front but lets its release "
                      "through to it; Pause or F9 do not: change the key in " + where + ".";
        return advice.trimmed();
    }
    case KeySource::compositorBinding:
        if (choice.desktop == DesktopKind::sway) {
            if (pttCode == platform::KeyCode::function)
                return "Add these two lines to ~/.config/sway/config and run swaymsg reload:";
            return keyName(pttCode) + " is a modifier and cannot be bound alone without breaking its shortcuts, so " +
                   "these lines bind the Menu key: add them to ~/.config/sway/config and run swaymsg reload:";
        }
        return "Bind a key in your compositor's settings to run " + program + " --ptt-down when pressed and " +
               program + " --ptt-up when released.";
    case KeySource::inputDevices:
        return "The key is read from the keyboard devices and still reaches the program in front, so Right Ctrl "
               "suits better than Fn / Menu there.";
    case KeySource::xwaylandOnly:
    case KeySource::none: break;
    }
    const QString prefix = choice.key == KeySource::xwaylandOnly
                               ? QStringLiteral("The key reaches Tovrin only while an X11 program has focus; to use it "
                                                "everywhere, ")
                               : QStringLiteral("No key reaches Tovrin in this session; to start and stop dictation, ");
    switch (choice.desktop) {
    case DesktopKind::gnome: {
        const QString inputGroup = QStringLiteral(
            "For hold-to-talk, add yourself to the input group (sudo usermod -aG input $USER, then log out and in). "
            "Members of that group can read every key typed.");
        const QString otherwise = QStringLiteral(" Otherwise, ") + prefix.at(0).toLower() + prefix.mid(1);
        if (offersCustomShortcut(choice)) {
            if (platform::CustomShortcut::shared().installed())
                return inputGroup + " Until then, the GNOME shortcut below starts and stops dictation in every program.";
            return inputGroup + otherwise + "add a GNOME shortcut with the button below (tap to start, tap again to stop).";
        }
        return inputGroup + otherwise + "add a shortcut in " + kCustomShortcutsPlace + " with the command " + toggle +
               " (tap to start, tap again to stop).";
    }
    case DesktopKind::kde:
        return prefix + QString::fromUtf8("add one in System Settings \u2192 Shortcuts \u2192 Add New \u2192 "
                                          "Command or Script with the command ") +
               toggle + " (tap to start, tap again to stop).";
    default:
        return prefix + "bind a key in your desktop's keyboard settings to the command " + toggle +
               " (tap to start, tap again to stop).";
    }
}

QString ShortcutsPage::keyName(int code) {
    for (const auto& key : HotkeyMonitor::supportedKeys)
        if (key.code == code) return QString::fromStdString(key.name);
    return QStringLiteral("Fn / Menu");
}

ShortcutsPage::ShortcutsPage(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addWidget(new PageHeader("keyboard", "Shortcuts", "Set the keys that control recording.", this));

    rows_[0] = new ShortcutRow("mic.fill", "Push-to-Talk", "Hold to record. Release to insert your words.", {}, true, this);
    rows_[1] = new ShortcutRow("switch.2", "Toggle Recording",
                               "Tap once to start hands-free. Tap again to stop and insert.", {}, true, this);
    rows_[2] = new ShortcutRow("rectangle.on.rectangle", "Show Widget", "Appears automatically while recording.",
                               "auto", false, this);
    for (ShortcutRow* r : rows_) column->addWidget(r);

    auto* sessionBox = box(this);
    auto* sessionColumn = new QVBoxLayout(sessionBox);
    sessionColumn->setContentsMargins(12, 12, 12, 12);
    sessionColumn->setSpacing(6);
    status_ = text(sessionStatus(platform::SessionChoice::current()), Kestal::callout(), Kestal::text, sessionBox);
    status_->setObjectName("sessionStatus");
    advice_ = text({}, Kestal::caption(), Kestal::dim, sessionBox);
    advice_->setObjectName("sessionAdvice");
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bindings_ = text({}, Kestal::monospacedFont(12), Kestal::text, sessionBox);
    bindings_->setObjectName("sessionBindings");
    bindings_->setWordWrap(false);
    bindings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sessionColumn->addWidget(status_);

    // What the desktop's dialog will ask, said before it opens, and a way to ask again.
    permissionNote_ = text({}, Kestal::caption(), Kestal::dim, sessionBox);
    permissionNote_->setObjectName("pastePermissionNote");
    sessionColumn->addWidget(permissionNote_);
    askPermission_ = SmallButton::create("Ask for Permission", sessionBox);
    askPermission_->setObjectName("askPastePermission");
    connect(askPermission_, &QPushButton::clicked, this, [this] {
        if (platform::PastePermission::isInstalled()) platform::PastePermission::shared().request();
        refreshSession();
    });
    sessionColumn->addWidget(askPermission_, 0, Qt::AlignLeft);

    sessionColumn->addWidget(advice_);
    sessionColumn->addWidget(bindings_);

    customShortcut_ = new QWidget(sessionBox);
    customShortcut_->setObjectName("customShortcut");
    auto* shortcutColumn = new QVBoxLayout(customShortcut_);
    shortcutColumn->setContentsMargins(0, 0, 0, 0);
    shortcutColumn->setSpacing(6);
    customShortcutNote_ = text({}, Kestal::caption(), Kestal::dim, customShortcut_);
    customShortcutNote_->setObjectName("customShortcutNote");
    customShortcutNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    shortcutColumn->addWidget(customShortcutNote_);
    customShortcutButton_ = SmallButton::create({}, customShortcut_);
    customShortcutButton_->setObjectName("customShortcutButton");
    connect(customShortcutButton_, &QPushButton::clicked, this, [this] { toggleCustomShortcut(); });
    shortcutColumn->addWidget(customShortcutButton_, 0, Qt::AlignLeft);
    customShortcutError_ = new KestalErrorText({}, customShortcut_);
    customShortcutError_->setObjectName("customShortcutError");
    customShortcutError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    customShortcutError_->setVisible(false);
    shortcutColumn->addWidget(customShortcutError_);
    sessionColumn->addWidget(customShortcut_);
    column->addWidget(sessionBox);

    auto* pttBox = box(this);
    auto* pttRow = new QHBoxLayout(pttBox);
    pttRow->setContentsMargins(12, 12, 12, 12);
    pttRow->addWidget(text("Push-to-talk key", Kestal::callout(), Kestal::text, pttBox));
    pttRow->addStretch(1);
    ptt_ = picker(pttBox);
    ptt_->setObjectName("pttPicker");
    for (const auto& key : HotkeyMonitor::supportedKeys) ptt_->addItem(QString::fromStdString(key.name), key.code);
    pttRow->addWidget(ptt_);
    column->addWidget(pttBox);

    auto* cancelBox = box(this);
    auto* cancelColumn = new QVBoxLayout(cancelBox);
    cancelColumn->setContentsMargins(12, 12, 12, 12);
    cancelColumn->setSpacing(8);
    auto* cancelRow = new QHBoxLayout;
    cancelRow->addWidget(text("Cancel key", Kestal::callout(), Kestal::text, cancelBox));
    cancelRow->addStretch(1);
    cancel_ = picker(cancelBox);
    cancel_->setObjectName("cancelPicker");
    cancelRow->addWidget(cancel_);
    cancelColumn->addLayout(cancelRow);
    cancelColumn->addWidget(text(QString::fromUtf8(
                                     "Misspoke? Tap it to throw the recording away \u2014 nothing gets typed. Releasing "
                                     "the push-to-talk key still stops and inserts as usual. Escape also cancels, and "
                                     "while recording it no longer leaks into the app under the cursor."),
                                 Kestal::caption(), Kestal::dim, cancelBox));
    column->addWidget(cancelBox);

    auto* troubleBox = box(this);
    auto* troubleColumn = new QVBoxLayout(troubleBox);
    troubleColumn->setContentsMargins(12, 12, 12, 12);
    troubleColumn->setSpacing(0);
    disclosure_ = new QToolButton(troubleBox);
    disclosure_->setObjectName("troubleshooting");
    disclosure_->setText("Troubleshooting");
    disclosure_->setCheckable(true);
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setIcon(Symbols::icon("chevron.right", Kestal::dim));
    disclosure_->setIconSize(QSize(10, 10));
    disclosure_->setAutoRaise(true);
    disclosure_->setFont(Kestal::body());
    disclosure_->setCursor(Qt::PointingHandCursor);
    disclosure_->setStyleSheet(
        QString("QToolButton { border: none; background: transparent; color: %1; }").arg(Kestal::css(Kestal::text)));
    troubleColumn->addWidget(disclosure_, 0, Qt::AlignLeft);
    troubleshooting_ = new QWidget(troubleBox);
    troubleshooting_->setObjectName("troubleshootingContent");
    auto* notes = new QVBoxLayout(troubleshooting_);
    notes->setContentsMargins(0, 6, 0, 0);
    notes->setSpacing(8);
    notes->addWidget(text(QStringLiteral("If the key does nothing, another program may hold it: pick another "
                                                 "push-to-talk key above."),
                          Kestal::callout(), Kestal::dim, troubleshooting_));
    notes->addWidget(text(QStringLiteral("Tovrin types through the X server. Under Wayland only programs running "
                                                 "through XWayland receive the text; elsewhere it stays on the clipboard."),
                          Kestal::callout(), Kestal::dim, troubleshooting_));
    troubleshooting_->setVisible(false);
    troubleColumn->addWidget(troubleshooting_);
    connect(disclosure_, &QToolButton::toggled, this, [this](bool open) {
        troubleshooting_->setVisible(open);
        disclosure_->setIcon(Symbols::icon(open ? "chevron.down" : "chevron.right", Kestal::dim));
    });
    column->addWidget(troubleBox);

    connect(ptt_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        const int code = ptt_->itemData(index).toInt();
        if (code != AppSettings::shared().pttKeyCode()) AppSettings::shared().setPttKeyCode(code);
        refresh();
    });
    connect(cancel_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        const int code = cancel_->itemData(index).toInt();
        if (code != AppSettings::shared().cancelKeyCode()) AppSettings::shared().setCancelKeyCode(code);
    });

    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](AppSettings::Setting setting) {
        if (setting == AppSettings::Setting::pttKey || setting == AppSettings::Setting::cancelKey) refresh();
    });
    refresh();
}

ShortcutsPage::~ShortcutsPage() { poll_.cancel(); }

void ShortcutsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshSession();
    if (!poll_.isValid() || poll_.isCancelled()) schedulePoll();
}

void ShortcutsPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    poll_.cancel();
}

void ShortcutsPage::schedulePoll() {
    std::weak_ptr<int> alive = alive_;
    poll_ = platform::MainQueue::after(kPollSeconds, [this, alive] {
        if (alive.expired()) return;
        refreshSession();
        schedulePoll();
    });
}

void ShortcutsPage::refreshSession() {
    const platform::SessionChoice session = platform::SessionChoice::current();
    const int ptt = AppSettings::shared().pttKeyCode();
    status_->setText(sessionStatus(session));

    // Where the desktop owns the key, it is the key the desktop reports.
    const QString name = session.key == platform::KeySource::desktopShortcut && !session.keyTrigger.empty()
                             ? QString::fromStdString(session.keyTrigger)
                             : keyName(ptt);
    rows_[0]->setKeys(name);
    rows_[1]->setKeys(name + " (tap)");

    advice_->setText(keyAdvice(session, ptt));
    advice_->setVisible(!advice_->text().isEmpty());
    bindings_->setText(bindingLines(session).join('\n'));
    bindings_->setVisible(!bindings_->text().isEmpty());

    const bool asked = pastePermissionAsked();
    permissionNote_->setVisible(asked);
    askPermission_->setVisible(asked && platform::PastePermission::shared().state() ==
                                            platform::PastePermission::State::notGranted);
    if (asked)
        permissionNote_->setText(
            QString::fromUtf8("To paste into other programs, Tovrin asks GNOME for remote interaction. GNOME asks "
                              "you %1 in a dialog: switch on \u201cAllow remote interaction\u201d and press Share.")
                .arg(platform::PastePermission::shared().remembered() ? "once" : "at each start of Tovrin"));

    const bool offered = offersCustomShortcut(session);
    customShortcut_->setVisible(offered);
    if (offered) {
        const bool installed = platform::CustomShortcut::shared().installed();
        const QString what = programCommand() + " --toggle on the Menu key. It gives tap mode only: tap to start, "
                                                 "tap again to stop.";
        customShortcutNote_->setText(installed ? "A GNOME shortcut runs " + what : "A GNOME shortcut can run " + what);
        customShortcutButton_->setText(installed ? "Remove GNOME Shortcut" : "Add GNOME Shortcut");
    }
}

void ShortcutsPage::toggleCustomShortcut() {
    if (!platform::CustomShortcut::isInstalled()) return;
    auto& shortcut = platform::CustomShortcut::shared();
    QString error;
    if (shortcut.installed()) {
        if (!shortcut.remove())
            error = "GNOME's keyboard settings did not let Tovrin remove its shortcut. Remove it in " +
                    kCustomShortcutsPlace + ".";
    } else if (!shortcut.install(platform::KeyCode::function, (programCommand() + " --toggle").toStdString())) {
        // (On the Menu key whatever the push-to-talk key: GNOME binds no lone modifier.)
        error = "GNOME's keyboard settings did not take the shortcut. Add it in " + kCustomShortcutsPlace +
                " with the command " + programCommand() + " --toggle.";
    }
    customShortcutError_->setText(error);
    customShortcutError_->setVisible(!error.isEmpty());
    refreshSession();
}

void ShortcutsPage::refresh() {
    const int ptt = AppSettings::shared().pttKeyCode();
    const int cancelCode = AppSettings::shared().cancelKeyCode();
    refreshSession();

    {
        const QSignalBlocker block(ptt_);
        ptt_->setCurrentIndex(ptt_->findData(ptt));  // -1 (no selection) for a code outside the table
    }
    {
        // The cancel key can be anything but the push-to-talk key. A stored cancel key equal to
        // it is kept as it is but shown as no selection; the key monitor treats it as off.
        const QSignalBlocker block(cancel_);
        cancel_->clear();
        cancel_->addItem("Disabled", 0);
        for (const auto& key : HotkeyMonitor::supportedKeys)
            if (key.code != ptt) cancel_->addItem(QString::fromStdString(key.name), key.code);
        cancel_->setCurrentIndex(cancel_->findData(cancelCode));
    }
}
