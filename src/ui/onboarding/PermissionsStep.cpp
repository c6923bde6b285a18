#include "ui/onboarding/PermissionsStep.h"

#include "platform/Accessibility.h"
#include "platform/MainQueue.h"
#include "platform/MicPermission.h"
#include "platform/PastePermission.h"
#include "platform/Workspace.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "ui/onboarding/PermissionRow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The prominent button in the secondary tint: a gray fill with light text.
void applySecondaryTint(QPushButton* button) {
    button->setFont(Kestal::font(13, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    QColor pressed = Kestal::dim;
    pressed.setAlphaF(0.85);
    button->setStyleSheet(QString("QAbstractButton { color: %1; background: %2; border: none; border-radius: 8px;"
                                  " padding: 8px 14px; }"
                                  "QAbstractButton:pressed { background: %3; }")
                              .arg(Kestal::css(Kestal::bg), Kestal::css(Kestal::dim), Kestal::css(pressed)));
}

}  // namespace

PermissionsStep::PermissionsStep(std::function<void()> next, QWidget* parent)
    : OnboardingStep(parent), next_(std::move(next)) {
    setObjectName("permissionsStep");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 36, 40, 30);
    column->setSpacing(22);

    column->addLayout(heading("Two quick permissions",
                              "Tovrin needs these to hear you and to type for you. It asks for nothing else."));

    micRow_ = new PermissionRow("mic.fill", "Microphone", "So Tovrin can hear what you say.",
                                [this] { enableMicrophone(); }, this);
    micRow_->setObjectName("microphoneRow");
    column->addWidget(micRow_);
    pastePermission_ = platform::PastePermission::isInstalled();
    if (pastePermission_)
        axRow_ = new PermissionRow("keyboard", "Remote interaction", pastePermissionSubtitle(),
                                   [this] { enableAccessibility(); }, this);
    else
        axRow_ = new PermissionRow("accessibility", "Accessibility",
                                   "So the Menu hotkey works and text lands in your cursor.",
                                   [this] { enableAccessibility(); }, this);
    axRow_->setObjectName("accessibilityRow");
    column->addWidget(axRow_);

    column->addStretch(1);

    continue_ = new QPushButton(this);
    continue_->setObjectName("continueButton");
    makeLarge(continue_);
    column->addWidget(continue_);
    connect(continue_, &QPushButton::clicked, this, [this] {
        if (next_) next_();
    });
    updateButton();
}

PermissionsStep::~PermissionsStep() { poll_.cancel(); }

void PermissionsStep::appear() {
    refresh();
    if (!isPolling()) schedulePoll();
}

void PermissionsStep::disappear() { poll_.cancel(); }

void PermissionsStep::schedulePoll() {
    std::weak_ptr<int> alive = alive_;
    poll_ = platform::MainQueue::after(kPollSeconds, [this, alive] {
        if (alive.expired()) return;
        refresh();
        schedulePoll();
    });
}

void PermissionsStep::refresh() {
    micOK_ = platform::MicPermission::isInstalled() &&
             platform::MicPermission::shared().status() == platform::MicAuthorization::authorized;
    if (pastePermission_) {
        axOK_ = platform::PastePermission::shared().state() == platform::PastePermission::State::granted;
        axRow_->setSubtitle(pastePermissionSubtitle());
    } else {
        axOK_ = platform::Accessibility::shared().isTrusted(false);
    }
    micRow_->setGranted(micOK_);
    axRow_->setGranted(axOK_);
    updateButton();
}

void PermissionsStep::enableMicrophone() {
    // The answer is not waited for: the next reading shows it.
    if (platform::MicPermission::isInstalled()) platform::MicPermission::shared().requestAccess([](bool) {});
    open(kMicrophoneSettings);
}

void PermissionsStep::enableAccessibility() {
    if (pastePermission_) {
        // The desktop's dialog opens; the next reading shows the answer.
        platform::PastePermission::shared().request();
        return;
    }
    platform::Accessibility::shared().isTrusted(true);
    open(kAccessibilitySettings);
}

void PermissionsStep::open(const std::string& url) { platform::Workspace::shared().openUrl(url); }

QString PermissionsStep::pastePermissionSubtitle() {
    auto& permission = platform::PastePermission::shared();
    if (permission.state() == platform::PastePermission::State::unavailable)
        return "GNOME offers no way to paste for Tovrin here: the text stays on the clipboard, press Ctrl+V to paste.";
    return QString::fromUtf8("So text lands in your cursor. GNOME asks %1: switch on \u201cAllow remote interaction\u201d "
                             "and press Share.")
        .arg(permission.remembered() ? "once" : "at each start of Tovrin");
}

QColor PermissionsStep::continueTint() const { return micOK_ && axOK_ ? Kestal::blue : Kestal::dim; }

void PermissionsStep::updateButton() {
    const bool both = micOK_ && axOK_;
    continue_->setText(both ? "Continue" : "Skip for now");
    if (styledBoth_ && *styledBoth_ == both) return;
    styledBoth_ = both;
    if (both)
        KestalPrimaryButtonStyle::apply(continue_);
    else
        applySecondaryTint(continue_);
}
