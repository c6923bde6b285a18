// The shortcuts portal client against a scripted portal on a private bus: the GNOME 48 order, the
// Plasma 5.27 order, refusals, a closed session, key repeats and a rebind.
// GLib's headers name a field "signals", which Qt's headers define: GLib comes first.
#include <gio/gio.h>

#include "platform/KeyEvents.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "support/AsyncWait.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <string>
#include <vector>

using platform::GlobalShortcutsPortal;
using State = GlobalShortcutsPortal::State;

namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
  </interface>
</node>)xml";

// A portal whose answers each test sets: the response code of each method, whether
// CreateSession already returns the shortcut bound (Plasma 5.27), and the trigger it reports.
struct FakePortal {
    GDBusConnection* bus = nullptr;
    GDBusNodeInfo* info = nullptr;
    std::vector<guint> registrations;
    std::string client;

    guint32 createAnswer = 0;
    guint32 bindAnswer = 0;
    bool boundInCreate = false;
    std::string trigger = "Ctrl+Alt+D";

    std::vector<std::string> calls;
    std::vector<std::string> preferredTriggers;
    const std::string session = "/org/freedesktop/portal/desktop/session/1_1/tovrin";

    explicit FakePortal(const std::string& address) {
        GError* error = nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!bus) return;
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {&FakePortal::onCall, nullptr, nullptr, {}};
        registrations.push_back(g_dbus_connection_register_object(
            bus, "/org/freedesktop/portal/desktop", info->interfaces[0], &vtable, this, nullptr, nullptr));
        registrations.push_back(
            g_dbus_connection_register_object(bus, session.c_str(), info->interfaces[1], &vtable, this, nullptr, nullptr));
        GVariant* owned = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
            nullptr, nullptr);
        if (owned) g_variant_unref(owned);
    }

    ~FakePortal() {
        for (guint id : registrations) g_dbus_connection_unregister_object(bus, id);
        if (info) g_dbus_node_info_unref(info);
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
    }

    static std::string option(GVariant* options, const char* key) {
        const char* value = nullptr;
        return g_variant_lookup(options, key, "&s", &value) ? value : "";
    }

    static std::string preferredTrigger(GVariant* shortcuts) {
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

    GVariant* shortcutList() const {
        return g_variant_new_parsed("[('push-to-talk', {'description': <'Hold to dictate'>, 'trigger_description': <%s>})]",
                                    trigger.c_str());
    }

    // Answers the call with the request path, then sends the Response on it, as the portal does.
    void respond(GDBusMethodInvocation* invocation, const std::string& sender, const std::string& token,
                 guint32 code, GVariant* results) {
        std::string name = sender.substr(1);
        for (char& c : name)
            if (c == '.') c = '_';
        const std::string path = "/org/freedesktop/portal/desktop/request/" + name + "/" + token;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
        g_dbus_connection_emit_signal(bus, sender.c_str(), path.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(u@a{sv})", code, results), nullptr);
    }

    static void onCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        self->client = sender;
        self->calls.push_back(method);
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
        if (std::string(method) == "CreateSession") {
            GVariant* options = g_variant_get_child_value(parameters, 0);
            GVariant* shortcuts = g_variant_lookup_value(options, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
            self->preferredTriggers.push_back(preferredTrigger(shortcuts));
            if (shortcuts) g_variant_unref(shortcuts);
            g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(self->session.c_str()));
            if (self->boundInCreate) g_variant_builder_add(&results, "{sv}", "shortcuts", self->shortcutList());
            self->respond(invocation, sender, option(options, "handle_token"), self->createAnswer,
                          g_variant_builder_end(&results));
            g_variant_unref(options);
        } else if (std::string(method) == "BindShortcuts") {
            GVariant* options = g_variant_get_child_value(parameters, 3);
            g_variant_builder_add(&results, "{sv}", "shortcuts", self->shortcutList());
            self->respond(invocation, sender, option(options, "handle_token"), self->bindAnswer,
                          g_variant_builder_end(&results));
            g_variant_unref(options);
        } else {
            g_variant_builder_clear(&results);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    void key(const char* signal) {
        g_dbus_connection_emit_signal(bus, client.c_str(), "/org/freedesktop/portal/desktop",
                                      "org.freedesktop.portal.GlobalShortcuts", signal,
                                      g_variant_new("(ost@a{sv})", session.c_str(), "push-to-talk", guint64(1),
                                                    g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
                                      nullptr);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }

    void closeSession() {
        g_dbus_connection_emit_signal(bus, client.c_str(), session.c_str(), "org.freedesktop.portal.Session", "Closed",
                                      g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)), nullptr);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }
};

class GlobalShortcutsPortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(daemon_.waitForReadyRead(10000)) << "dbus-daemon did not start";
        address_ = daemon_.readLine().trimmed().toStdString();
        portal_ = std::make_unique<FakePortal>(address_);
        ASSERT_NE(portal_->bus, nullptr);
        client_ = std::make_unique<GlobalShortcutsPortal>(address_);
        client_->onPressed = [this] { events_.push_back("down"); };
        client_->onReleased = [this] { events_.push_back("up"); };
    }

    void TearDown() override {
        client_.reset();
        portal_.reset();
        daemon_.kill();
        daemon_.waitForFinished(3000);
    }

    bool settle(State wanted) {
        return test::driveUntil([&] { return client_->state() == wanted; }, 10);
    }

    // Lets the key signals arrive: they are sent before this returns, and the client sees them once
    // the event loop has run a little.
    void pump() { test::driveUntil([] { return false; }, 0.2); }

    QProcess daemon_;
    std::string address_;
    std::unique_ptr<FakePortal> portal_;
    std::unique_ptr<GlobalShortcutsPortal> client_;
    std::vector<std::string> events_;
};

TEST_F(GlobalShortcutsPortalTest, BindsInTheDialogAndFollowsPressAndReleaseOnce) {
    client_->start("Menu");
    ASSERT_TRUE(settle(State::bound));
    EXPECT_EQ(portal_->calls, (std::vector<std::string>{"CreateSession", "BindShortcuts"}));
    EXPECT_EQ(client_->triggerDescription(), "Ctrl+Alt+D");

    portal_->key("Deactivated");  // a release without a press is nothing
    portal_->key("Activated");
    portal_->key("Activated");  // the held key repeats
    pump();
    EXPECT_TRUE(client_->isDown());
    portal_->key("Deactivated");
    pump();
    EXPECT_EQ(events_, (std::vector<std::string>{"down", "up"}));
}

TEST_F(GlobalShortcutsPortalTest, TakesTheShortcutBoundInCreateSessionWithoutTheDialog) {
    portal_->boundInCreate = true;
    portal_->trigger = "Menu";
    client_->start(GlobalShortcutsPortal::triggerForKeyCode(platform::KeyCode::function));
    ASSERT_TRUE(settle(State::bound));
    EXPECT_EQ(portal_->calls, (std::vector<std::string>{"CreateSession"}));
    EXPECT_EQ(portal_->preferredTriggers, (std::vector<std::string>{"Menu"}));
    EXPECT_EQ(client_->triggerDescription(), "Menu");

    // The user picks another key: the session is opened again with it.
    client_->rebind(GlobalShortcutsPortal::triggerForKeyCode(platform::KeyCode::rightControl));
    ASSERT_TRUE(test::driveUntil([&] { return portal_->preferredTriggers.size() == 2; }, 10));
    ASSERT_TRUE(settle(State::bound));
    EXPECT_EQ(portal_->preferredTriggers.back(), "Control_R");
}

TEST_F(GlobalShortcutsPortalTest, ARefusalOrACancelLeavesTheKeyToTheNextSource) {
    portal_->createAnswer = 2;
    client_->start("Menu");
    ASSERT_TRUE(settle(State::refused));
    portal_->key("Activated");
    pump();
    EXPECT_TRUE(events_.empty());

    portal_->createAnswer = 0;
    portal_->bindAnswer = 1;
    client_->rebind("Menu");
    EXPECT_TRUE(settle(State::refused));
}

TEST_F(GlobalShortcutsPortalTest, ASessionClosedWhileHeldReleasesTheKey) {
    client_->start("Menu");
    ASSERT_TRUE(settle(State::bound));
    portal_->key("Activated");
    pump();
    portal_->closeSession();
    ASSERT_TRUE(settle(State::closed));
    EXPECT_EQ(events_, (std::vector<std::string>{"down", "up"}));
}

TEST_F(GlobalShortcutsPortalTest, NoPortalOnTheBusIsUnavailable) {
    portal_.reset();
    client_->start("Menu");
    EXPECT_TRUE(settle(State::unavailable));
}

}  // namespace
