#include "support/FakePortal.h"

#include <cstdlib>
#include <unistd.h>

namespace test {

namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="NotifyKeyboardKeycode"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
  </interface>
</node>)xml";

constexpr const char* kPath = "/org/freedesktop/portal/desktop";

std::string option(GVariant* options, const char* key) {
    const char* value = nullptr;
    return options && g_variant_lookup(options, key, "&s", &value) ? value : "";
}

// The preferred trigger of the (one) shortcut in an a(sa{sv}) list.
std::string preferredTrigger(GVariant* shortcuts) {
    if (!shortcuts) return "";
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* id = nullptr;
    GVariant* properties = nullptr;
    std::string out;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        out = option(properties, "preferred_trigger");
        g_variant_unref(properties);
    }
    return out;
}

}  // namespace

FakePortal::FakePortal() {
    // A session bus that starts no service: where the real portal is installed, the bus would
    // otherwise start it for a call to a portal that vanished.
    if (!config_.open()) return;
    config_.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
)");
    config_.flush();
    daemon_.start("dbus-daemon", {"--config-file=" + config_.fileName(), "--nofork", "--print-address=1"});
    if (!daemon_.waitForReadyRead(10000)) return;
    address_ = daemon_.readLine().trimmed().toStdString();
    portal_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!portal_) return;
    g_dbus_connection_set_exit_on_close(portal_, FALSE);
    info_ = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakePortal::onCall, &FakePortal::onProperty, nullptr, {}};
    for (int i = 0; i < 2; ++i)
        registrations_.push_back(
            g_dbus_connection_register_object(portal_, kPath, info_->interfaces[i], &vtable, this, nullptr, nullptr));
    registrations_.push_back(
        g_dbus_connection_register_object(portal_, session.c_str(), info_->interfaces[2], &vtable, this, nullptr, nullptr));
    GVariant* owned = g_dbus_connection_call_sync(
        portal_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        nullptr);
    if (owned) g_variant_unref(owned);
}

FakePortal::~FakePortal() {
    vanish();
    daemon_.kill();
    daemon_.waitForFinished(3000);
}

void FakePortal::vanish() {
    if (!portal_) return;
    for (unsigned id : registrations_) g_dbus_connection_unregister_object(portal_, id);
    registrations_.clear();
    if (info_) g_dbus_node_info_unref(info_);
    info_ = nullptr;
    g_dbus_connection_close_sync(portal_, nullptr, nullptr);
    g_object_unref(portal_);
    portal_ = nullptr;
}

void FakePortal::respond(GDBusMethodInvocation* invocation, const std::string& sender, GVariant* options,
                         std::uint32_t code, GVariant* results) {
    std::string name = sender.substr(1);
    for (char& c : name)
        if (c == '.') c = '_';
    const std::string path = std::string(kPath) + "/request/" + name + "/" + option(options, "handle_token");
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    sendSignal(path, "org.freedesktop.portal.Request", "Response", g_variant_new("(u@a{sv})", code, results));
}

void FakePortal::sendSignal(const std::string& path, const char* interface, const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(portal_, client_.c_str(), path.c_str(), interface, signal, parameters, nullptr);
    g_dbus_connection_flush_sync(portal_, nullptr, nullptr);
}

GVariant* FakePortal::onProperty(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**,
                                 gpointer data) {
    auto* self = static_cast<FakePortal*>(data);
    return std::string(name) == "version" ? g_variant_new_uint32(self->remoteDesktopVersion) : nullptr;
}

void FakePortal::onCall(GDBusConnection*, const char* sender, const char*, const char* interface, const char* method,
                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakePortal*>(data);
    self->client_ = sender;
    const std::string shortInterface = std::string(interface).substr(std::string("org.freedesktop.portal.").size());
    const std::string call = shortInterface + "." + method;
    self->calls.push_back(call);
    // The a{sv} options are the last argument of every method that answers through a Request.
    const gsize count = g_variant_n_children(parameters);
    GVariant* options = count ? g_variant_get_child_value(parameters, count - 1) : nullptr;
    if (options && !g_variant_is_of_type(options, G_VARIANT_TYPE("a{sv}"))) {
        g_variant_unref(options);
        options = nullptr;
    }
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    if (method == std::string("CreateSession")) {
        g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(self->session.c_str()));
        std::uint32_t code = 0;
        if (shortInterface == "GlobalShortcuts") {
            GVariant* shortcuts = g_variant_lookup_value(options, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
            self->preferredTriggers.push_back(preferredTrigger(shortcuts));
            if (shortcuts) g_variant_unref(shortcuts);
            code = self->createAnswer;
            if (self->boundInCreate)
                g_variant_builder_add(&results, "{sv}", "shortcuts",
                                      g_variant_new_parsed("[('push-to-talk', {'trigger_description': <%s>})]",
                                                           self->trigger.c_str()));
        }
        self->respond(invocation, sender, options, code, g_variant_builder_end(&results));
    } else if (call == "GlobalShortcuts.BindShortcuts") {
        g_variant_builder_add(&results, "{sv}", "shortcuts",
                              g_variant_new_parsed("[('push-to-talk', {'trigger_description': <%s>})]",
                                                   self->trigger.c_str()));
        self->respond(invocation, sender, options, self->bindAnswer, g_variant_builder_end(&results));
    } else if (call == "RemoteDesktop.SelectDevices") {
        self->receivedRestoreToken = option(options, "restore_token");
        g_variant_lookup(options, "persist_mode", "u", &self->receivedPersistMode);
        self->respond(invocation, sender, options, 0, g_variant_builder_end(&results));
    } else if (call == "RemoteDesktop.Start") {
        g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(1));
        if (self->remoteDesktopVersion >= 2)
            g_variant_builder_add(&results, "{sv}", "restore_token", g_variant_new_string(self->newRestoreToken.c_str()));
        self->respond(invocation, sender, options, self->startAnswer, g_variant_builder_end(&results));
    } else {
        if (call == "RemoteDesktop.NotifyKeyboardKeycode") {
            gint32 code = 0;
            guint32 state = 0;
            g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &code, &state);
            self->keys.push_back(std::to_string(code) + (state ? "+" : "-"));
            if (self->holdKeyAnswers) {
                self->heldKeys_.push_back(invocation);
                g_variant_builder_clear(&results);
                if (options) g_variant_unref(options);
                return;
            }
        }
        g_variant_builder_clear(&results);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
    if (options) g_variant_unref(options);
}

void FakePortal::shortcut(const char* signal) {
    sendSignal(kPath, "org.freedesktop.portal.GlobalShortcuts", signal,
         g_variant_new("(ost@a{sv})", session.c_str(), "push-to-talk", guint64(1),
                       g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
}

void FakePortal::answerHeldKeys() {
    for (GDBusMethodInvocation* invocation : heldKeys_) g_dbus_method_invocation_return_value(invocation, nullptr);
    heldKeys_.clear();
}

void FakePortal::closeSession() {
    sendSignal(session, "org.freedesktop.portal.Session", "Closed",
         g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
}

}  // namespace test
