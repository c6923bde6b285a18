// Our GNOME custom shortcut is added and removed in a private, memory-backed GSettings holding
// the two schemas GNOME ships, and the user's own shortcuts stay as they were.
#include <gio/gio.h>

#include "platform/gnome/GnomeCustomShortcut.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using platform::GnomeCustomShortcut;

namespace {

constexpr const char* kSchemas = R"xml(<schemalist>
  <schema id="org.gnome.settings-daemon.plugins.media-keys" path="/org/gnome/settings-daemon/plugins/media-keys/">
    <key name="custom-keybindings" type="as"><default>[]</default></key>
  </schema>
  <schema id="org.gnome.settings-daemon.plugins.media-keys.custom-keybinding">
    <key name="name" type="s"><default>''</default></key>
    <key name="binding" type="s"><default>''</default></key>
    <key name="command" type="s"><default>''</default></key>
  </schema>
</schemalist>)xml";

constexpr const char* kUsers = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";

std::vector<std::string> listed() {
    GSettings* list = g_settings_new("org.gnome.settings-daemon.plugins.media-keys");
    std::vector<std::string> out;
    gchar** values = g_settings_get_strv(list, "custom-keybindings");
    for (gchar** p = values; p && *p; ++p) out.emplace_back(*p);
    g_strfreev(values);
    g_object_unref(list);
    return out;
}

std::string entry(const char* path, const char* key) {
    GSettings* settings =
        g_settings_new_with_path("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", path);
    gchar* value = g_settings_get_string(settings, key);
    std::string out = value;
    g_free(value);
    g_object_unref(settings);
    return out;
}

TEST(GnomeCustomShortcut, AddsAndRemovesOnlyItsOwnEntry) {
    test::TempFolder folder;
    folder.write("tovrin-test.gschema.xml", kSchemas);
    ASSERT_EQ(std::system(("glib-compile-schemas " + folder.path()).c_str()), 0);
    // GSettings reads these once, at its first use in the process: this test is its first user.
    setenv("GSETTINGS_SCHEMA_DIR", folder.path().c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    ASSERT_TRUE(GnomeCustomShortcut::available());

    GSettings* users = g_settings_new_with_path("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", kUsers);
    g_settings_set_string(users, "binding", "<Super>t");
    g_object_unref(users);
    GSettings* list = g_settings_new("org.gnome.settings-daemon.plugins.media-keys");
    const char* mine[] = {kUsers, nullptr};
    g_settings_set_strv(list, "custom-keybindings", mine);
    g_object_unref(list);

    const std::string binding = GnomeCustomShortcut::bindingForKeyCode(63);
    ASSERT_TRUE(GnomeCustomShortcut::add(binding, "/usr/bin/tovrin --toggle"));
    ASSERT_TRUE(GnomeCustomShortcut::add(binding, "/usr/bin/tovrin --toggle"));  // a second add adds nothing
    const auto both = listed();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0], kUsers);
    EXPECT_TRUE(GnomeCustomShortcut::present());
    EXPECT_EQ(entry(both[1].c_str(), "binding"), "Menu");
    EXPECT_EQ(entry(both[1].c_str(), "command"), "/usr/bin/tovrin --toggle");

    ASSERT_TRUE(GnomeCustomShortcut::remove());
    EXPECT_EQ(listed(), std::vector<std::string>{kUsers});
    EXPECT_FALSE(GnomeCustomShortcut::present());
    EXPECT_EQ(entry(kUsers, "binding"), "<Super>t");
    EXPECT_TRUE(GnomeCustomShortcut::bindingForKeyCode(62).empty());  // no lone modifier
}

}  // namespace
