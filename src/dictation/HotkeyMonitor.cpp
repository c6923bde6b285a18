#include "dictation/HotkeyMonitor.h"

#include "state/AppSettings.h"
#include "platform/MainQueue.h"

using platform::KeyScope;

const std::vector<HotkeyMonitor::SupportedKey> HotkeyMonitor::supportedKeys = {
    {platform::KeyCode::function, platform::KeyFlag::function, "Fn / Menu"},
    {platform::KeyCode::rightCommand, platform::KeyFlag::command, "Right Super"},
    {platform::KeyCode::rightOption, platform::KeyFlag::option, "Right Alt"},
    {platform::KeyCode::rightControl, platform::KeyFlag::control, "Right Ctrl"},
};

namespace {

const HotkeyMonitor::SupportedKey* findKey(int code) {
    for (const auto& key : HotkeyMonitor::supportedKeys)
        if (key.code == code) return &key;
    return nullptr;
}

}  // namespace

HotkeyMonitor::HotkeyMonitor() : self_(std::make_shared<HotkeyMonitor*>(this)) {}

HotkeyMonitor::HotkeyMonitor(platform::KeyEvents& events, platform::EscSwallow& swallow, platform::KeyGrab* grab)
    : events_(&events), swallow_(&swallow), self_(std::make_shared<HotkeyMonitor*>(this)), grab_(grab) {}

HotkeyMonitor::~HotkeyMonitor() {
    *self_ = nullptr;
    settingsWatch_.reset();
    if (grabInUse_) grabInUse_->hold({});
    if (swallowInUse_) swallowInUse_->disable();
    if (monitorsOwner_)
        for (int token : monitors_) monitorsOwner_->removeMonitor(token);
}

platform::KeyEvents* HotkeyMonitor::events() {
    if (events_) return events_;
    return platform::KeyEvents::hasShared() ? &platform::KeyEvents::shared() : nullptr;
}

platform::EscSwallow* HotkeyMonitor::swallow() {
    if (swallow_) return swallow_;
    return platform::EscSwallow::hasShared() ? &platform::EscSwallow::shared() : nullptr;
}

std::uint64_t HotkeyMonitor::pttFlag() {
    const auto* key = findKey(AppSettings::shared().pttKeyCode());
    return key ? key->flag : platform::KeyFlag::function;
}

int HotkeyMonitor::effectiveCancelKeyCode() {
    const auto& settings = AppSettings::shared();
    const int cancel = settings.cancelKeyCode();
    return cancel == settings.pttKeyCode() ? 0 : cancel;
}

void HotkeyMonitor::start() {
    auto* source = events();
    if (!source || monitorsOwner_) return;
    monitorsOwner_ = source;
    std::weak_ptr<HotkeyMonitor*> weak = self_;
    auto onFlags = [weak](const platform::FlagsChangedEvent& event) {
        if (auto self = weak.lock(); self && *self) (*self)->handleFlags(event);
    };
    auto onKey = [weak](KeyScope scope) {
        return [weak, scope](const platform::KeyDownEvent& event) {
            if (auto self = weak.lock(); self && *self) (*self)->handleKeyDown(event, scope);
        };
    };
    const int tokens[] = {
        source->addFlagsChangedMonitor(KeyScope::global, onFlags),
        source->addFlagsChangedMonitor(KeyScope::local, onFlags),
        source->addKeyDownMonitor(KeyScope::global, onKey(KeyScope::global)),
        source->addKeyDownMonitor(KeyScope::local, onKey(KeyScope::local)),
    };
    for (int token : tokens)
        if (token != 0) monitors_.push_back(token);

    grabInUse_ = grab_ ? grab_ : platform::KeyGrab::hasShared() && !events_ ? &platform::KeyGrab::shared() : nullptr;
    if (!grabInUse_) return;
    settingsWatch_ = std::make_unique<QObject>();
    QObject::connect(&AppSettings::shared(), &AppSettings::changed, settingsWatch_.get(),
                     [this](AppSettings::Setting setting) {
                         if (setting == AppSettings::Setting::pttKey || setting == AppSettings::Setting::cancelKey)
                             holdKeys();
                     });
    holdKeys();
}

void HotkeyMonitor::holdKeys() {
    if (!grabInUse_) return;
    // Only the keys that can serve as our keys; a stored code of anything else is never held.
    std::vector<int> codes;
    for (int code : {AppSettings::shared().pttKeyCode(), effectiveCancelKeyCode()})
        if (code != 0 && findKey(code)) codes.push_back(code);
    grabInUse_->hold(codes);
}

void HotkeyMonitor::handleFlags(const platform::FlagsChangedEvent& event) {
    const int k = event.keyCode;
    const int cancelCode = effectiveCancelKeyCode();
    if (k == cancelCode) {
        if (const auto* key = findKey(k)) {
            const bool down = (event.flags & key->flag) != 0;
            if (down && !cancelWasDown_ && onCancelKey) onCancelKey();
            cancelWasDown_ = down;
            return;
        }
    }
    if (k != AppSettings::shared().pttKeyCode()) return;
    if (event.flags & pttFlag())
        pushToTalkPressed();
    else
        pushToTalkReleased();
}

void HotkeyMonitor::pushToTalkPressed() {
    // Already held: a repeat or another flag change, which must not restart the hold.
    if (fnDownAt_) return;
    fnDownAt_ = platform::MainQueue::now();
    if (onFnDown) onFnDown();
}

void HotkeyMonitor::pushToTalkReleased() {
    if (!fnDownAt_) return;
    const double held = platform::MainQueue::now() - *fnDownAt_;
    fnDownAt_.reset();
    if (onFnUp) onFnUp(held);
}

void HotkeyMonitor::handleCommand(platform::ControlCommand command) {
    using platform::ControlCommand;
    switch (command) {
    case ControlCommand::pttDown: pushToTalkPressed(); break;
    case ControlCommand::pttUp: pushToTalkReleased(); break;
    case ControlCommand::toggle:
        // A tap. While the key is held a tap means nothing: the hold goes on.
        if (fnDownAt_) break;
        pushToTalkPressed();
        pushToTalkReleased();
        break;
    case ControlCommand::cancel:
        if (onCancel) onCancel();
        break;
    case ControlCommand::reopen: break;
    }
}

void HotkeyMonitor::handleKeyDown(const platform::KeyDownEvent& event, KeyScope scope) {
    if (event.keyCode == platform::KeyCode::escape) {
        // A press taken by the swallow is reported by it; reporting it here too would cancel twice.
        if (scope == KeyScope::global && swallowInUse_ && swallowInUse_->isSwallowing()) return;
        if (onCancel) onCancel();
        return;
    }
    if (scope == KeyScope::global && fnDownAt_ && onKeyDownDuringHold) onKeyDownDuringHold();
}

void HotkeyMonitor::setEscSwallow(bool on) {
    if (on) {
        if (swallowInUse_) return;
        auto* target = swallow();
        if (!target) return;
        std::weak_ptr<HotkeyMonitor*> weak = self_;
        const bool taken = target->enable([weak] {
            platform::MainQueue::post([weak] {
                if (auto self = weak.lock(); self && *self && (*self)->onCancel) (*self)->onCancel();
            });
        });
        // When Esc cannot be taken nothing more happens: the global monitor still reports it.
        if (taken) swallowInUse_ = target;
    } else if (swallowInUse_) {
        swallowInUse_->disable();
        swallowInUse_ = nullptr;
    }
}
