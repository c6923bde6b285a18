#include "platform/xdg/LogindSession.h"

#include <gio/gio.h>

#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
constexpr int kTimeoutMs = 5000;

}  // namespace

struct LogindSession::Impl : std::enable_shared_from_this<Impl> {
    GDBusConnection* bus = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    std::string path;
    bool isActive = true;
    bool locked = false;
    unsigned subscription = 0;

    ~Impl() {
        g_cancellable_cancel(cancellable);
        g_object_unref(cancellable);
        if (bus && subscription) g_dbus_connection_signal_unsubscribe(bus, subscription);
        if (bus) g_object_unref(bus);
    }

    using Weak = std::weak_ptr<Impl>;
    Weak* weak() { return new Weak(weak_from_this()); }
    static std::shared_ptr<Impl> take(gpointer data) {
        std::unique_ptr<Weak> weak(static_cast<Weak*>(data));
        return weak->lock();
    }

    // Active and LockedHint from an a{sv} of properties.
    void read(GVariant* properties) {
        gboolean value = FALSE;
        if (g_variant_lookup(properties, "Active", "b", &value)) isActive = value;
        if (g_variant_lookup(properties, "LockedHint", "b", &value)) locked = value;
    }

    void start() {
        g_bus_get(G_BUS_TYPE_SYSTEM, cancellable, [](GObject*, GAsyncResult* result, gpointer data) {
            GDBusConnection* connection = g_bus_get_finish(result, nullptr);
            auto self = take(data);
            if (!self || !connection) {
                if (connection) g_object_unref(connection);
                return;
            }
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            self->bus = connection;
            self->findSession();
        }, weak());
    }

    void findSession() {
        const char* id = std::getenv("XDG_SESSION_ID");
        GVariant* args = id && *id ? g_variant_new("(s)", id) : g_variant_new("(u)", static_cast<guint32>(getpid()));
        g_dbus_connection_call(bus, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               id && *id ? "GetSession" : "GetSessionByPID", args, G_VARIANT_TYPE("(o)"),
                               G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, cancellable,
                               [](GObject* source, GAsyncResult* result, gpointer data) {
                                   GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                                   auto self = take(data);
                                   if (!reply) return;  // no logind, or no session of ours: stay active
                                   if (self) {
                                       const char* path = nullptr;
                                       g_variant_get(reply, "(&o)", &path);
                                       self->path = path;
                                       self->follow();
                                   }
                                   g_variant_unref(reply);
                               },
                               weak());
    }

    void follow() {
        subscription = g_dbus_connection_signal_subscribe(
            bus, kLogin, "org.freedesktop.DBus.Properties", "PropertiesChanged", path.c_str(), kSessionInterface,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
               gpointer data) {
                auto self = static_cast<Weak*>(data)->lock();
                if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
                GVariant* changed = g_variant_get_child_value(parameters, 1);
                self->read(changed);
                g_variant_unref(changed);
            },
            weak(), [](gpointer data) { delete static_cast<Weak*>(data); });
        g_dbus_connection_call(bus, kLogin, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                               g_variant_new("(s)", kSessionInterface), G_VARIANT_TYPE("(a{sv})"),
                               G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, cancellable,
                               [](GObject* source, GAsyncResult* result, gpointer data) {
                                   GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                                   auto self = take(data);
                                   if (!reply) return;
                                   if (self) {
                                       GVariant* properties = g_variant_get_child_value(reply, 0);
                                       self->read(properties);
                                       g_variant_unref(properties);
                                   }
                                   g_variant_unref(reply);
                               },
                               weak());
    }
};

LogindSession::LogindSession() : impl_(std::make_shared<Impl>()) {}
LogindSession::~LogindSession() = default;

void LogindSession::start() { impl_->start(); }

bool LogindSession::active() const { return impl_->isActive && !impl_->locked; }

}  // namespace platform
