// Key events driven by hand: tests send flags changes and key presses to the monitors of a scope.
#pragma once

#include "platform/KeyEvents.h"

#include <map>
#include <vector>

namespace test {

class FakeKeyEvents : public platform::KeyEvents {
public:
    bool available = true;  // false: no monitor can be added, as on a desktop without key events

    int addFlagsChangedMonitor(platform::KeyScope scope, FlagsHandler handler) override {
        return add({scope, std::move(handler), {}});
    }
    int addKeyDownMonitor(platform::KeyScope scope, KeyDownHandler handler) override {
        return add({scope, {}, std::move(handler)});
    }
    void removeMonitor(int token) override { monitors.erase(token); }

    void flags(int keyCode, std::uint64_t flags, platform::KeyScope scope = platform::KeyScope::global) {
        for (auto& m : snapshot(scope))
            if (m.flags) m.flags({keyCode, flags});
    }
    void keyDown(int keyCode, platform::KeyScope scope = platform::KeyScope::global, bool repeat = false) {
        for (auto& m : snapshot(scope))
            if (m.keyDown) m.keyDown({keyCode, repeat});
    }

    struct Monitor {
        platform::KeyScope scope;
        FlagsHandler flags;
        KeyDownHandler keyDown;
    };
    std::map<int, Monitor> monitors;

private:
    int add(Monitor m) {
        if (!available) return 0;
        monitors.emplace(next_, std::move(m));
        return next_++;
    }
    std::vector<Monitor> snapshot(platform::KeyScope scope) const {
        std::vector<Monitor> out;
        for (const auto& [token, m] : monitors)
            if (m.scope == scope) out.push_back(m);
        return out;
    }
    int next_ = 1;
};

}  // namespace test
