// An Esc swallow driven by hand: tests press Esc "in another program" while it is enabled.
#pragma once

#include "platform/EscSwallow.h"

namespace test {

class FakeEscSwallow : public platform::EscSwallow {
public:
    bool grabFails = false;     // another program holds Esc
    bool ownWindowFocused = false;  // Esc would go to one of our windows, so none is taken
    int enables = 0;
    int disables = 0;

    bool enable(std::function<void()> onEscape) override {
        if (enabled_) return true;
        ++enables;
        if (grabFails) return false;
        enabled_ = true;
        onEscape_ = std::move(onEscape);
        return true;
    }
    void disable() override {
        if (!enabled_) return;
        ++disables;
        enabled_ = false;
        onEscape_ = {};
    }
    bool isEnabled() const override { return enabled_; }
    bool isSwallowing() const override { return enabled_ && !ownWindowFocused; }

    // Esc pressed while another program has the focus: true when it was swallowed.
    bool pressEscape() {
        if (!isSwallowing()) return false;
        if (onEscape_) onEscape_();
        return true;
    }

private:
    bool enabled_ = false;
    std::function<void()> onEscape_;
};

}  // namespace test
