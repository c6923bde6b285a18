// Watches the keyboard system-wide for the push-to-talk key, the cancel key and Esc, and reports
// them through callbacks. While a recording runs it can also keep Esc from the program in front.
// The push-to-talk and cancel codes are read from AppSettings at every event, so a change in the
// settings applies to the next key without a restart. From start() on, those two keys are held
// from every window while they are ordinary keys (the Menu key standing in for Fn), following the
// settings, and let go when the monitor goes.
#pragma once

#include "platform/ControlLine.h"
#include "platform/EscSwallow.h"
#include "platform/KeyGrab.h"
#include "platform/KeyEvents.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HotkeyMonitor {
public:
    struct SupportedKey {
        int code;
        std::uint64_t flag;
        std::string name;
    };
    // The keys that can serve as push-to-talk or cancel key, in the pickers' order.
    static const std::vector<SupportedKey> supportedKeys;

    // Uses the key events, Esc swallow and key grab installed as shared services at the time
    // start() and setEscSwallow() run; without them those calls do nothing.
    HotkeyMonitor();
    // Uses the given services, which must outlive the monitor; without `grab` no key is held.
    HotkeyMonitor(platform::KeyEvents& events, platform::EscSwallow& swallow, platform::KeyGrab* grab = nullptr);
    virtual ~HotkeyMonitor();
    HotkeyMonitor(const HotkeyMonitor&) = delete;
    HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

    std::function<void()> onFnDown;
    std::function<void(double)> onFnUp;  // held seconds
    std::function<void()> onKeyDownDuringHold;
    std::function<void()> onCancel;     // Esc
    std::function<void()> onCancelKey;  // the configured cancel key went down

    // Installs the four monitors: flags changes and key presses, each globally and locally; and
    // holds the push-to-talk and cancel keys.
    virtual void start();
    // On: Esc is swallowed and each press posts onCancel to the main queue. Off: released.
    virtual void setEscSwallow(bool on);

    // The flag of the push-to-talk key (function when the stored code is not a supported key),
    // and the cancel code (0, meaning none, when it equals the push-to-talk code).
    static std::uint64_t pttFlag();
    static int effectiveCancelKeyCode();

    void handleFlags(const platform::FlagsChangedEvent& event);
    void handleKeyDown(const platform::KeyDownEvent& event, platform::KeyScope scope);
    // A key command from the command line (a desktop's key binding runs it). ptt-down and ptt-up
    // are the push-to-talk key going down and up, under the same rules as the key itself (a second
    // ptt-down while held is a repeat; a ptt-up with none held does nothing); toggle is a tap of
    // it; cancel is Esc. reopen is not the monitor's.
    void handleCommand(platform::ControlCommand command);

private:
    platform::KeyEvents* events();
    platform::EscSwallow* swallow();
    // Holds the keys the settings name now.
    void holdKeys();
    void pushToTalkPressed();
    void pushToTalkReleased();

    platform::KeyEvents* events_ = nullptr;
    platform::EscSwallow* swallow_ = nullptr;
    // Handlers hold the monitor weakly through this token and do nothing once it is gone.
    std::shared_ptr<HotkeyMonitor*> self_;
    std::vector<int> monitors_;
    platform::KeyEvents* monitorsOwner_ = nullptr;
    std::optional<double> fnDownAt_;
    bool cancelWasDown_ = false;
    platform::EscSwallow* swallowInUse_ = nullptr;
    platform::KeyGrab* grab_ = nullptr;
    platform::KeyGrab* grabInUse_ = nullptr;
    // Context of the settings subscription that keeps the held keys in step.
    std::unique_ptr<QObject> settingsWatch_;
};
