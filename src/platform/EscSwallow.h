// Keeps Esc from the program in front while a recording runs, reporting each press instead.
#pragma once

#include "platform/ServiceSlot.h"

#include <functional>

namespace platform {

class EscSwallow {
public:
    virtual ~EscSwallow() = default;

    // Starts swallowing Esc: from now on each press that would have gone to another program goes
    // to `onEscape` instead (on the main thread). Presses that go to one of our own windows are
    // left alone and reach the window. False when Esc cannot be taken (another program holds it);
    // nothing is swallowed then. Enabling while enabled changes nothing and returns true.
    virtual bool enable(std::function<void()> onEscape) = 0;
    // Stops swallowing; harmless when not enabled.
    virtual void disable() = 0;
    virtual bool isEnabled() const = 0;
    // True while Esc presses of other programs are actually being taken (enabled, and none of our
    // own windows has the keyboard focus).
    virtual bool isSwallowing() const = 0;

    static EscSwallow& shared() { return ServiceSlot<EscSwallow>::get(); }
    static bool hasShared() { return ServiceSlot<EscSwallow>::isSet(); }
    static void setShared(EscSwallow* p) { ServiceSlot<EscSwallow>::set(p); }
};

}  // namespace platform
