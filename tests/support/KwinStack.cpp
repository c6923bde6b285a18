#include "support/KwinStack.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace test {

namespace {

const char* kPortal = "/usr/libexec/xdg-desktop-portal";
const char* kPortalKde = "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde";

}  // namespace

std::string KwinStack::unavailable() {
    return missing({"kwin_wayland", "kbuildsycoca5", "wl-copy", "wl-paste", "wayland-scanner", "gdbus", "dbus-daemon", "ss"},
                   {kPortal, kPortalKde, "/usr/share/plasma-wayland-protocols/fake-input.xml"});
}

KwinStack::KwinStack() : WlStack("kwin", unavailable()) {}

std::string KwinStack::xwaylandDisplay() const {
    // KWin itself listens on XWayland's socket.
    std::string compositor = readFile(folder() + "/pids/compositor");
    while (!compositor.empty() && (compositor.back() == '\n' || compositor.back() == ' ')) compositor.pop_back();
    if (compositor.empty()) return {};
    std::string sockets;
    const_cast<KwinStack*>(this)->run({"ss", "-xlp"}, &sockets);
    std::stringstream lines(sockets);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("pid=" + compositor + ",") == std::string::npos) continue;
        const auto at = line.find("/tmp/.X11-unix/X");
        if (at == std::string::npos) continue;
        std::string number;
        for (size_t i = at + 16; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) number += line[i];
        if (!number.empty()) return ":" + number;
    }
    return {};
}

bool KwinStack::startPortals() {
    spawn({kPortalKde}, {"QT_QPA_PLATFORM=wayland"}, work() + "/portal-kde.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    spawn({kPortal, "-r"}, {}, work() + "/portal.log");
    return waitUntil([&] { return hasBusName("org.freedesktop.portal.Desktop", 10); }, 15);
}

bool KwinStack::activate(const std::string& resourceClass) {
    const std::string name = "tovrin-activate-" + std::to_string(++scripts_);
    const std::string script = work() + "/" + name + ".js";
    {
        std::ofstream js(script);
        js << "const all = workspace.clientList();\n"
              "for (let i = 0; i < all.length; ++i)\n"
              "    if (all[i].resourceClass == \"" << resourceClass << "\") workspace.activeClient = all[i];\n"
              "print(\"" << name << " ACTIVE \" + (workspace.activeClient ? workspace.activeClient.resourceClass : \"\"));\n";
    }
    auto kwin = [&](const std::vector<std::string>& call) {
        std::vector<std::string> argv = {"gdbus", "call", "--session", "-d", "org.kde.KWin", "-o", "/Scripting", "-m"};
        argv.insert(argv.end(), call.begin(), call.end());
        return run(argv) == 0;
    };
    if (!kwin({"org.kde.kwin.Scripting.loadScript", script, name}) || !kwin({"org.kde.kwin.Scripting.start"})) return false;
    const std::string said = name + " ACTIVE ";
    std::string line;
    waitUntil([&] {
        const std::string log = readFile(folder() + "/logs/compositor.log");
        const auto at = log.find(said);
        if (at == std::string::npos) return false;
        line = log.substr(at + said.size(), log.find('\n', at) - at - said.size());
        return true;
    }, 5);
    kwin({"org.kde.kwin.Scripting.unloadScript", name});
    return line == resourceClass;
}

bool KwinStack::startField() {
    spawnField("wayland");
    return fieldReady() && activate("gtk_field.py");
}

bool KwinStack::startQtField() {
    spawn({helpers() + "/qt_probe", "field", work() + "/qtfield.txt"}, {"QT_QPA_PLATFORM=wayland"},
          work() + "/qtfield.log");
    return waitUntil([&] { return log("qtfield").find("FOCUS-IN") != std::string::npos; }, 20) && activate("qt_probe");
}

std::string KwinStack::qtFieldText() const { return readFile(work() + "/qtfield.txt"); }

bool KwinStack::keys(const std::vector<std::string>& steps) { return runKeys("kde_fakekey", steps); }

}  // namespace test
