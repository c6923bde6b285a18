// Recording stand-ins for the platform services, installed by the test environment.
#pragma once

#include "platform/Accessibility.h"
#include "platform/App.h"
#include "platform/KeySynth.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/Sounds.h"
#include "platform/Workspace.h"

#include <string>
#include <vector>

namespace test {

struct FakeSounds : platform::Sounds {
    std::vector<std::string> played;
    void play(const std::string& name) override { played.push_back(name); }
};

struct FakeWorkspace : platform::Workspace {
    std::vector<std::string> opened;
    std::vector<std::string> revealed;
    bool opens = true;  // false: nothing on the desktop opens the URL
    bool openUrl(const std::string& url) override {
        opened.push_back(url);
        return opens;
    }
    bool revealFile(const std::string& path) override {
        revealed.push_back(path);
        return true;
    }
};

struct FakeAccessibility : platform::Accessibility {
    bool trusted = true;
    int prompts = 0;
    int checks = 0;
    bool isTrusted(bool prompt) override {
        ++checks;
        if (prompt) ++prompts;
        return trusted;
    }
};

struct FakePasteboard : platform::Pasteboard {
    std::int64_t count = 0;
    platform::PasteboardSnapshot content;
    std::int64_t changeCount() const override { return count; }
    void clear() override {
        content.items.clear();
        ++count;
    }
    void setString(const std::string& text) override {
        content.items = {{"text/plain", text}};
        ++count;
    }
    std::optional<std::string> string() const override {
        for (const auto& [type, data] : content.items)
            if (type == "text/plain") return data;
        return std::nullopt;
    }
    platform::PasteboardSnapshot snapshot() const override { return content; }
    void restore(const platform::PasteboardSnapshot& s) override {
        content = s;
        ++count;
    }
};

struct FakeKeySynth : platform::KeySynth {
    int pastes = 0;
    bool sends = true;  // false: no way to send the chord, as paste() reports
    std::vector<std::string> clipboardAtPaste;
    platform::Pasteboard* pasteboard = nullptr;
    bool terminal = false;  // the focused window is a terminal emulator
    bool targetIsTerminal() const override { return terminal; }
    bool paste() override {
        ++pastes;
        if (pasteboard) clipboardAtPaste.push_back(pasteboard->string().value_or("<none>"));
        return sends;
    }
};

struct FakeApp : platform::App {
    bool regular = false;
    bool dark = false;
    bool visibleWindows = false;
    int terminations = 0;
    std::vector<std::string> icons;
    std::vector<std::string> alerts;
    void setRegular(bool r) override { regular = r; }
    bool isRegular() const override { return regular; }
    void setDarkAppearance() override { dark = true; }
    bool setIconImage(const std::string& path) override {
        icons.push_back(path);
        return true;
    }
    void showAlert(const std::string& message, const std::string&, const std::string&) override {
        alerts.push_back(message);
    }
    void terminate() override { ++terminations; }
    bool hasVisibleWindows() const override { return visibleWindows; }
    int broughtForward = 0;
    void bringVisibleWindowsForward() override { ++broughtForward; }
};

struct FakeLoginItem : platform::LoginItem {
    bool enabled = false;
    bool failNext = false;
    int calls = 0;
    bool registerItem() override {
        ++calls;
        if (failNext) return false;
        enabled = true;
        return true;
    }
    bool unregisterItem() override {
        ++calls;
        if (failNext) return false;
        enabled = false;
        return true;
    }
    bool isEnabled() const override { return enabled; }
};

}  // namespace test
