#include "platform/xdg/DBusDesktopNotifier.h"

#include <gio/gio.h>

#include <cstdio>

namespace platform {

namespace {

constexpr int kReplyTimeoutMs = 5000;

struct Pending {
    std::string title;
    std::string body;
};

void toStandardError(const Pending& p) { std::fprintf(stderr, "%s: %s\n", p.title.c_str(), p.body.c_str()); }

void onNotified(GObject* source, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) {
        g_variant_unref(reply);
    } else {
        toStandardError(*pending);
        if (error) g_error_free(error);
    }
    delete pending;
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (!bus) {
        toStandardError(*pending);
        if (error) g_error_free(error);
        delete pending;
        return;
    }
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    GVariant* args = g_variant_new("(susssasa{sv}i)", "Tovrin", 0u, "", pending->title.c_str(), pending->body.c_str(),
                                   nullptr, nullptr, -1);
    g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify", args, G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, kReplyTimeoutMs, nullptr, onNotified, pending);
    g_object_unref(bus);
}

}  // namespace

void DBusDesktopNotifier::notify(const std::string& title, const std::string& body) {
    // Both steps run on the main loop's GLib context (Qt's event loop on this desktop), so the
    // program never waits for the bus or the notification service.
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, new Pending{title, body});
}

}  // namespace platform
