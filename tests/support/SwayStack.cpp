#include "support/SwayStack.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test {

std::string SwayStack::unavailable() {
    return missing({"sway", "swaymsg", "foot", "wl-copy", "wl-paste", "wayland-scanner", "setpriv"});
}

SwayStack::SwayStack() : WlStack("sway", unavailable()) {}

bool SwayStack::swaymsg(const std::string& command) {
    std::string out;
    return run({"swaymsg", command}, &out) == 0;
}

bool SwayStack::addConfig(const std::string& lines) {
    {
        std::ofstream config(folder() + "/sway.conf", std::ios::app);
        config << lines << "\n";
        if (!config) return false;
    }
    return swaymsg("reload");
}

std::string SwayStack::focusedAppId() {
    std::string tree;
    if (run({"swaymsg", "-t", "get_tree", "-r"}, &tree) != 0) return {};
    const auto json = nlohmann::json::parse(tree, nullptr, false);
    std::function<std::string(const nlohmann::json&)> find = [&](const nlohmann::json& node) -> std::string {
        if (node.value("focused", false)) {
            if (node.contains("app_id") && node["app_id"].is_string()) return node["app_id"].get<std::string>();
            if (node.contains("window_properties") && node["window_properties"].contains("class"))
                return node["window_properties"]["class"].get<std::string>();
        }
        for (const char* key : {"nodes", "floating_nodes"})
            if (node.contains(key))
                for (const auto& child : node[key])
                    if (std::string id = find(child); !id.empty()) return id;
        return {};
    };
    return json.is_discarded() ? std::string() : find(json);
}

std::string SwayStack::xwaylandDisplay() const {
    auto* self = const_cast<SwayStack*>(this);
    const std::string file = work() + "/display";
    std::error_code ec;
    fs::remove(file, ec);
    if (!self->swaymsg("exec sh -c 'echo $DISPLAY > " + file + "'")) return {};
    std::string display;
    waitUntil([&] {
        display = readFile(file);
        return !display.empty() && display.back() == '\n';
    }, 5);
    while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) display.pop_back();
    // XWayland lets in only the compositor's user: let this process's user in too.
    if (!display.empty() && asOtherUser()) {
        const passwd* me = getpwuid(getuid());
        if (!me || self->run({"env", "DISPLAY=" + display, "xhost", std::string("+si:localuser:") + me->pw_name}) != 0)
            return {};
    }
    return display;
}

bool SwayStack::startField() {
    spawnField("wayland");
    return fieldReady() && waitUntil([&] { return focusedAppId() == "gtk_field.py"; }, 10);
}

bool SwayStack::startFootCat(const std::string& path) {
    // Without line buffering every byte reaches cat (and the file) as it is typed or pasted.
    spawn({"foot", "sh", "-c", "stty -icanon; cat > " + path}, {}, work() + "/foot.log");
    return waitUntil([&] { return focusedAppId() == "foot"; }, 20);
}

bool SwayStack::keys(const std::vector<std::string>& steps) { return runKeys("vk_keys", steps); }

}  // namespace test
