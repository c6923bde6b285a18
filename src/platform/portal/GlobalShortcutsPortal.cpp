#include "platform/portal/GlobalShortcutsPortal.h"

#include "platform/KeyEvents.h"

#include <gio/gio.h>

#include <cstdio>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
// Fixed, so the desktop files the user's choice under the same name at every start.
constexpr const char* kSessionToken = "tovrin";
constexpr const char* kDescription = "Hold to dictate";
constexpr int kCallTimeoutMs = 10000;

// A string entry of an a{sv} dictionary ("" when missing or of another type; object paths count).
std::string stringEntry(GVariant* dict, const char* key) {
    if (!dict) return {};
    GVariant* value = g_variant_lookup_value(dict, key, nullptr);
    if (!value) return {};
    std::string out;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
        out = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    return out;
}

// Our shortcut in an a(sa{sv}) list: found, and its trigger description.
bool findShortcut(GVariant* shortcuts, std::string* trigger) {
    if (!shortcuts || !g_variant_is_of_type(shortcuts, G_VARIANT_TYPE("a(sa{sv})"))) return false;
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* id = nullptr;
    GVariant* properties = nullptr;
    bool found = false;
    while (!found && g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        if (std::string(id) == GlobalShortcutsPortal::shortcutId) {
            found = true;
            *trigger = stringEntry(properties, "trigger_description");
        }
        g_variant_unref(properties);
    }
    return found;
}

GVariant* shortcutList(const std::string& preferredTrigger) {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(kDescription));
    if (!preferredTrigger.empty())
        g_variant_builder_add(&properties, "{sv}", "preferred_trigger", g_variant_new_string(preferredTrigger.c_str()));
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    g_variant_builder_add(&list, "(s@a{sv})", GlobalShortcutsPortal::shortcutId, g_variant_builder_end(&properties));
    return g_variant_builder_end(&list);
}

}  // namespace

struct GlobalShortcutsPortal::Impl : std::enable_shared_from_this<Impl> {
    GlobalShortcutsPortal* owner = nullptr;
    std::string busAddress;
    GDBusConnection* bus = nullptr;
    GCancellable* cancellable = nullptr;
    State state = State::idle;
    std::string preferredTrigger;
    std::string trigger;
    std::string session;
    bool down = false;
    unsigned tokens = 0;
    // Bumped by every start and stop: answers to an earlier round are dropped.
    unsigned round = 0;
    std::vector<guint> signalSubscriptions;
    guint sessionClosedSubscription = 0;
    // Open requests by their object path: the handler of their Response.
    struct Request {
        guint subscription = 0;
        std::function<void(guint32 response, GVariant* results)> onResponse;
    };
    std::map<std::string, Request> requests;

    ~Impl() {
        if (cancellable) {
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
        }
        if (bus) {
            for (auto& [path, request] : requests) g_dbus_connection_signal_unsubscribe(bus, request.subscription);
            for (guint id : signalSubscriptions) g_dbus_connection_signal_unsubscribe(bus, id);
            if (sessionClosedSubscription) g_dbus_connection_signal_unsubscribe(bus, sessionClosedSubscription);
            closeSession();
            g_object_unref(bus);
        }
    }

    // A heap copy of a weak pointer to this, for GLib's user data; freed by `release`.
    std::weak_ptr<Impl>* weakSelf() { return new std::weak_ptr<Impl>(shared_from_this()); }
    static void release(gpointer data) { delete static_cast<std::weak_ptr<Impl>*>(data); }
    static std::shared_ptr<Impl> lock(gpointer data) { return static_cast<std::weak_ptr<Impl>*>(data)->lock(); }

    void setState(State next) {
        if (state == next) return;
        state = next;
        if (owner && owner->onStateChanged) owner->onStateChanged(next);
    }

    void press() {
        if (down) return;
        down = true;
        if (owner && owner->onPressed) owner->onPressed();
    }

    void releaseKey() {
        if (!down) return;
        down = false;
        if (owner && owner->onReleased) owner->onReleased();
    }

    void start() {
        ++round;
        setState(State::connecting);
        if (bus) {
            createSession();
            return;
        }
        if (!cancellable) cancellable = g_cancellable_new();
        auto* pending = new PendingBus{weak_from_this(), busAddress.empty()};
        if (pending->shared) {
            g_bus_get(G_BUS_TYPE_SESSION, cancellable, &Impl::onBus, pending);
        } else {
            g_dbus_connection_new_for_address(
                busAddress.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, cancellable, &Impl::onBus, pending);
        }
    }

    struct PendingBus {
        std::weak_ptr<Impl> self;
        bool shared;
    };

    static void onBus(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<PendingBus> pending(static_cast<PendingBus*>(data));
        GError* error = nullptr;
        // The shared session connection and a private one finish differently.
        GDBusConnection* connection = pending->shared ? g_bus_get_finish(result, &error)
                                                      : g_dbus_connection_new_for_address_finish(result, &error);
        auto self = pending->self.lock();
        if (!self) {
            if (connection) g_object_unref(connection);
            if (error) g_error_free(error);
            return;
        }
        if (!connection) {
            std::fprintf(stderr, "Tovrin: no session bus for the shortcuts portal: %s\n", error ? error->message : "");
            if (error) g_error_free(error);
            self->setState(State::unavailable);
            return;
        }
        // A bus that goes away must never end the program.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        self->bus = connection;
        self->subscribeKeys();
        self->createSession();
    }

    void subscribeKeys() {
        signalSubscriptions.push_back(g_dbus_connection_signal_subscribe(
            bus, kPortalName, kShortcutsInterface, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &Impl::onKeySignal, weakSelf(), &Impl::release));
        signalSubscriptions.push_back(g_dbus_connection_signal_subscribe(
            bus, kPortalName, kShortcutsInterface, "Deactivated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &Impl::onKeySignal, weakSelf(), &Impl::release));
        signalSubscriptions.push_back(g_dbus_connection_signal_subscribe(
            bus, kPortalName, kShortcutsInterface, "ShortcutsChanged", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &Impl::onKeySignal, weakSelf(), &Impl::release));
    }

    static void onKeySignal(GDBusConnection*, const char*, const char*, const char*, const char* signal,
                            GVariant* parameters, gpointer data) {
        auto self = lock(data);
        if (!self) return;
        const std::string name = signal;
        if (name == "ShortcutsChanged") {
            const char* sessionPath = nullptr;
            GVariant* shortcuts = nullptr;
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))"))) return;
            g_variant_get(parameters, "(&o@a(sa{sv}))", &sessionPath, &shortcuts);
            std::string trigger;
            if (self->session == sessionPath && findShortcut(shortcuts, &trigger)) {
                self->trigger = trigger;
                if (self->owner && self->owner->onStateChanged) self->owner->onStateChanged(self->state);
            }
            g_variant_unref(shortcuts);
            return;
        }
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
        const char* sessionPath = nullptr;
        const char* id = nullptr;
        guint64 timestamp = 0;
        g_variant_get(parameters, "(&o&st@a{sv})", &sessionPath, &id, &timestamp, nullptr);
        if (self->state != State::bound || self->session != sessionPath || std::string(id) != shortcutId) return;
        if (name == "Activated")
            self->press();
        else
            self->releaseKey();
    }

    std::string requestPath(const std::string& token) const {
        std::string sender = g_dbus_connection_get_unique_name(bus);
        if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
        for (char& c : sender)
            if (c == '.') c = '_';
        return std::string(kPortalPath) + "/request/" + sender + "/" + token;
    }

    // Calls a portal method that answers through a Request object. The Response is subscribed to
    // before the call, so an early answer is not missed; should the portal use another path, the
    // call's reply moves the subscription there.
    void callWithResponse(const char* method, GVariant* parameters, const std::string& token,
                          std::function<void(guint32, GVariant*)> onResponse) {
        const std::string path = requestPath(token);
        subscribeResponse(path, std::move(onResponse));
        struct Call {
            std::weak_ptr<Impl> self;
            std::string expected;
            unsigned round;
        };
        auto* call = new Call{weak_from_this(), path, round};
        g_dbus_connection_call(
            bus, kPortalName, kPortalPath, kShortcutsInterface, method, parameters, G_VARIANT_TYPE("(o)"),
            G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Call> call(static_cast<Call*>(data));
                GError* error = nullptr;
                GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                auto self = call->self.lock();
                if (!self || call->round != self->round) {
                    if (reply) g_variant_unref(reply);
                    if (error) g_error_free(error);
                    return;
                }
                if (!reply) {
                    std::fprintf(stderr, "Tovrin: the shortcuts portal did not answer: %s\n",
                                 error ? error->message : "");
                    if (error) g_error_free(error);
                    self->dropRequest(call->expected);
                    self->setState(State::unavailable);
                    return;
                }
                const char* handle = nullptr;
                g_variant_get(reply, "(&o)", &handle);
                if (handle != call->expected) {
                    auto found = self->requests.find(call->expected);
                    if (found != self->requests.end()) {
                        auto handler = std::move(found->second.onResponse);
                        self->dropRequest(call->expected);
                        self->subscribeResponse(handle, std::move(handler));
                    }
                }
                g_variant_unref(reply);
            },
            call);
    }

    void subscribeResponse(const std::string& path, std::function<void(guint32, GVariant*)> onResponse) {
        struct Target {
            std::weak_ptr<Impl> self;
            std::string path;
        };
        auto* target = new Target{weak_from_this(), path};
        Request request;
        request.onResponse = std::move(onResponse);
        request.subscription = g_dbus_connection_signal_subscribe(
            bus, kPortalName, kRequestInterface, "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
               gpointer data) {
                auto* target = static_cast<Target*>(data);
                auto self = target->self.lock();
                if (!self) return;
                auto found = self->requests.find(target->path);
                if (found == self->requests.end()) return;
                auto handler = std::move(found->second.onResponse);
                const std::string path = target->path;  // `target` goes with the subscription
                self->dropRequest(path);
                guint32 response = 2;
                GVariant* results = nullptr;
                if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
                    g_variant_get(parameters, "(u@a{sv})", &response, &results);
                if (handler) handler(response, results);
                if (results) g_variant_unref(results);
            },
            target, [](gpointer data) { delete static_cast<Target*>(data); });
        requests[path] = std::move(request);
    }

    void dropRequest(const std::string& path) {
        auto found = requests.find(path);
        if (found == requests.end()) return;
        const guint subscription = found->second.subscription;
        requests.erase(found);
        g_dbus_connection_signal_unsubscribe(bus, subscription);
    }

    std::string nextToken() { return "tovrin" + std::to_string(++tokens); }

    void createSession() {
        const std::string token = nextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(kSessionToken));
        // Plasma 5.27 binds what this option names; other desktops leave it aside.
        g_variant_builder_add(&options, "{sv}", "shortcuts", shortcutList(preferredTrigger));
        const unsigned thisRound = round;
        callWithResponse("CreateSession", g_variant_new("(a{sv})", &options), token,
                         [this, thisRound](guint32 response, GVariant* results) {
                             if (thisRound != round) return;
                             if (response != 0) {
                                 setState(State::refused);
                                 return;
                             }
                             session = stringEntry(results, "session_handle");
                             if (session.empty()) {
                                 setState(State::unavailable);
                                 return;
                             }
                             watchSession();
                             GVariant* shortcuts = results ? g_variant_lookup_value(results, "shortcuts", nullptr) : nullptr;
                             std::string bound;
                             const bool already = findShortcut(shortcuts, &bound);
                             if (shortcuts) g_variant_unref(shortcuts);
                             if (already) {
                                 trigger = bound;
                                 setState(State::bound);
                             } else {
                                 bindShortcuts();
                             }
                         });
    }

    void bindShortcuts() {
        const std::string token = nextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        const unsigned thisRound = round;
        callWithResponse("BindShortcuts",
                         g_variant_new("(o@a(sa{sv})sa{sv})", session.c_str(), shortcutList(preferredTrigger), "",
                                       &options),
                         token, [this, thisRound](guint32 response, GVariant* results) {
                             if (thisRound != round) return;
                             if (response != 0) {
                                 setState(State::refused);
                                 return;
                             }
                             GVariant* shortcuts =
                                 results ? g_variant_lookup_value(results, "shortcuts", nullptr) : nullptr;
                             std::string bound;
                             findShortcut(shortcuts, &bound);
                             if (shortcuts) g_variant_unref(shortcuts);
                             trigger = bound;
                             setState(State::bound);
                         });
    }

    void watchSession() {
        if (sessionClosedSubscription) g_dbus_connection_signal_unsubscribe(bus, sessionClosedSubscription);
        sessionClosedSubscription = g_dbus_connection_signal_subscribe(
            bus, kPortalName, kSessionInterface, "Closed", session.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, gpointer data) {
                auto self = lock(data);
                if (!self) return;
                self->session.clear();
                self->releaseKey();
                self->setState(State::closed);
            },
            weakSelf(), &Impl::release);
    }

    void closeSession() {
        if (!bus || session.empty()) return;
        g_dbus_connection_call(bus, kPortalName, session.c_str(), kSessionInterface, "Close", nullptr, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr, nullptr);
        session.clear();
    }

    void stop() {
        ++round;
        releaseKey();
        if (bus) {
            for (auto& [path, request] : requests) g_dbus_connection_signal_unsubscribe(bus, request.subscription);
            requests.clear();
            if (sessionClosedSubscription) g_dbus_connection_signal_unsubscribe(bus, sessionClosedSubscription);
            sessionClosedSubscription = 0;
        }
        closeSession();
        trigger.clear();
        setState(State::idle);
    }
};

GlobalShortcutsPortal::GlobalShortcutsPortal(std::string busAddress) : impl_(std::make_shared<Impl>()) {
    impl_->owner = this;
    impl_->busAddress = std::move(busAddress);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() { impl_->owner = nullptr; }

void GlobalShortcutsPortal::start(const std::string& preferredTrigger) {
    if (impl_->state == State::connecting || impl_->state == State::bound) return;
    impl_->preferredTrigger = preferredTrigger;
    impl_->start();
}

void GlobalShortcutsPortal::rebind(const std::string& preferredTrigger) {
    impl_->stop();
    impl_->preferredTrigger = preferredTrigger;
    impl_->start();
}

void GlobalShortcutsPortal::stop() { impl_->stop(); }

GlobalShortcutsPortal::State GlobalShortcutsPortal::state() const { return impl_->state; }
std::string GlobalShortcutsPortal::triggerDescription() const { return impl_->trigger; }
bool GlobalShortcutsPortal::isDown() const { return impl_->down; }

std::string GlobalShortcutsPortal::triggerForKeyCode(int keyCode) {
    switch (keyCode) {
        case KeyCode::function: return "Menu";
        case KeyCode::rightControl: return "Control_R";
        case KeyCode::rightOption: return "Alt_R";
        case KeyCode::rightCommand: return "Super_R";
        default: return {};
    }
}

}  // namespace platform
