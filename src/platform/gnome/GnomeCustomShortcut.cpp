#include "platform/gnome/GnomeCustomShortcut.h"

#include "platform/KeyEvents.h"

#include <gio/gio.h>

#include <vector>

namespace platform {

namespace {

constexpr const char* kListSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kEntrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kListKey = "custom-keybindings";
constexpr const char* kOurPath = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/tovrin-toggle/";
constexpr const char* kName = "Tovrin: start or stop dictation";

bool schemaExists(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
    if (!schema) return false;
    g_settings_schema_unref(schema);
    return true;
}

std::vector<std::string> paths(GSettings* list) {
    std::vector<std::string> out;
    gchar** values = g_settings_get_strv(list, kListKey);
    for (gchar** p = values; p && *p; ++p) out.emplace_back(*p);
    g_strfreev(values);
    return out;
}

bool setPaths(GSettings* list, const std::vector<std::string>& values) {
    std::vector<const char*> raw;
    for (const auto& v : values) raw.push_back(v.c_str());
    raw.push_back(nullptr);
    return g_settings_set_strv(list, kListKey, raw.data());
}

}  // namespace

bool GnomeCustomShortcut::available() { return schemaExists(kListSchema) && schemaExists(kEntrySchema); }

bool GnomeCustomShortcut::add(const std::string& binding, const std::string& command) {
    if (!available() || binding.empty()) return false;
    GSettings* entry = g_settings_new_with_path(kEntrySchema, kOurPath);
    bool ok = g_settings_set_string(entry, "name", kName) && g_settings_set_string(entry, "binding", binding.c_str()) &&
              g_settings_set_string(entry, "command", command.c_str());
    g_object_unref(entry);
    GSettings* list = g_settings_new(kListSchema);
    auto values = paths(list);
    bool listed = false;
    for (const auto& v : values) listed = listed || v == kOurPath;
    if (!listed) {
        values.push_back(kOurPath);
        ok = setPaths(list, values) && ok;
    }
    g_settings_sync();
    g_object_unref(list);
    return ok;
}

bool GnomeCustomShortcut::remove() {
    if (!available()) return true;
    GSettings* list = g_settings_new(kListSchema);
    auto values = paths(list);
    std::vector<std::string> kept;
    for (const auto& v : values)
        if (v != kOurPath) kept.push_back(v);
    bool ok = kept.size() == values.size() || setPaths(list, kept);
    g_object_unref(list);
    GSettings* entry = g_settings_new_with_path(kEntrySchema, kOurPath);
    for (const char* key : {"name", "binding", "command"}) g_settings_reset(entry, key);
    g_object_unref(entry);
    g_settings_sync();
    return ok;
}

bool GnomeCustomShortcut::present() {
    if (!available()) return false;
    GSettings* list = g_settings_new(kListSchema);
    bool found = false;
    for (const auto& v : paths(list)) found = found || v == kOurPath;
    g_object_unref(list);
    return found;
}

std::string GnomeCustomShortcut::bindingForKeyCode(int keyCode) {
    return keyCode == KeyCode::function ? "Menu" : "";
}

}  // namespace platform
