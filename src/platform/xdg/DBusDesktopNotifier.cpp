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
    auto* bus = G_DBUS_CONNECTION(source);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(bus, result, &error);
    if (reply) {
        g_variant_unref(reply);
    } else {
        toStandardError(*pending);
        if (error) g_error_free(error);
    }
    delete pending;
    g_dbus_connection_close(bus, nullptr, nullptr, nullptr);
    g_object_unref(bus);
}

void onConnected(GObject*, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_finish(result, &error);
    if (!bus) {
        toStandardError(*pending);
        if (error) g_error_free(error);
        delete pending;
        return;
    }
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    GVariant* args = g_variant_new("(susssasa{sv}i)", "Tovrin", 0u, "", pending->title.c_str(), pending->body.c_str(),
                                   nullptr, nullptr, -1);
    // The connection is handed to the reply, which closes it.
    g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify", args, G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, kReplyTimeoutMs, nullptr, onNotified, pending);
}

}  // namespace

void DBusDesktopNotifier::notify(const std::string& title, const std::string& body) {
    auto* pending = new Pending{title, body};
    // A connection of its own for each notice, never the process's shared one: GIO's shared
    // session connection ends the process when the bus goes away, and a bus that went away and
    // came back is simply found again by the next notice. Both steps run on the main loop's GLib
    // context (Qt's event loop on this desktop), so the program never waits for the bus or the
    // notification service.
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!address) {
        toStandardError(*pending);
        if (error) g_error_free(error);
        delete pending;
        return;
    }
    g_dbus_connection_new_for_address(address,
                                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                      nullptr, nullptr, onConnected, pending);
    g_free(address);
}

}  // namespace platform
