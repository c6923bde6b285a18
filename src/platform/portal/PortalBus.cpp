#include "platform/portal/PortalBus.h"

#include <gio/gio.h>

#include <atomic>
#include <cstdio>
#include <utility>

namespace platform {

namespace {

constexpr int kCallTimeoutMs = 10000;

// Handle tokens are unique in the process: the clients may share one connection.
std::atomic<unsigned> g_tokens{0};

struct SignalTarget {
    std::weak_ptr<PortalBus> bus;
    PortalBus::SignalHandler handler;
};

void onSignal(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
              gpointer data) {
    auto* target = static_cast<SignalTarget*>(data);
    // Keep this alive while the handler runs: it may drop its own subscription.
    auto keep = target->bus.lock();
    if (!keep) return;
    auto handler = target->handler;
    handler(parameters);
}

void freeSignalTarget(gpointer data) { delete static_cast<SignalTarget*>(data); }

}  // namespace

std::shared_ptr<PortalBus> PortalBus::create(std::string address) {
    return std::shared_ptr<PortalBus>(new PortalBus(std::move(address)));
}

PortalBus::PortalBus(std::string address) : address_(std::move(address)) {}

PortalBus::~PortalBus() {
    if (cancellable_) {
        g_cancellable_cancel(cancellable_);
        g_object_unref(cancellable_);
    }
    if (!bus_) return;
    for (auto& [path, request] : requests_) g_dbus_connection_signal_unsubscribe(bus_, request.first);
    for (unsigned id : subscriptions_) g_dbus_connection_signal_unsubscribe(bus_, id);
    g_object_unref(bus_);
}

void PortalBus::connect(std::function<void(bool)> done) {
    if (bus_ || failed_) {
        done(bus_ != nullptr);
        return;
    }
    waiting_.push_back(std::move(done));
    if (connecting_) return;
    connecting_ = true;
    cancellable_ = g_cancellable_new();
    struct Pending {
        std::weak_ptr<PortalBus> self;
        bool shared;
    };
    auto* pending = new Pending{weak_from_this(), address_.empty()};
    auto finished = [](GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
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
        self->connecting_ = false;
        if (connection) {
            // A bus that goes away must never end the program.
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            self->bus_ = connection;
        } else {
            std::fprintf(stderr, "Tovrin: no session bus for the desktop portal: %s\n", error ? error->message : "");
            self->failed_ = true;
        }
        if (error) g_error_free(error);
        auto waiting = std::move(self->waiting_);
        for (auto& callback : waiting) callback(self->bus_ != nullptr);
    };
    if (pending->shared) {
        g_bus_get(G_BUS_TYPE_SESSION, cancellable_, finished, pending);
    } else {
        g_dbus_connection_new_for_address(
            address_.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable_, finished, pending);
    }
}

std::string PortalBus::newToken() { return "tovrin" + std::to_string(++g_tokens); }

std::string PortalBus::requestPath(const std::string& token) const {
    std::string sender = bus_ ? g_dbus_connection_get_unique_name(bus_) : "";
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    for (char& c : sender)
        if (c == '.') c = '_';
    return std::string(portalPath) + "/request/" + sender + "/" + token;
}

void PortalBus::request(const char* interface, const char* method, GVariant* parameters, const std::string& token,
                        ResponseHandler onResponse, ErrorHandler onError) {
    // The Response is subscribed to before the call, so an early answer is not missed; should the
    // portal use another path (an old portal), the call's reply moves the subscription there.
    const std::string path = requestPath(token);
    subscribeResponse(path, std::move(onResponse));
    struct Call {
        std::weak_ptr<PortalBus> self;
        std::string expected;
        ErrorHandler onError;
    };
    auto* call = new Call{weak_from_this(), path, std::move(onError)};
    g_dbus_connection_call(
        bus_, portalName, portalPath, interface, method, parameters, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            auto self = call->self.lock();
            if (!self || !self->requests_.count(call->expected)) {
                if (reply) g_variant_unref(reply);
                if (error) g_error_free(error);
                return;
            }
            if (!reply) {
                const std::string message = error ? error->message : "no answer";
                if (error) g_error_free(error);
                self->dropRequest(call->expected);
                std::fprintf(stderr, "Tovrin: the desktop portal refused a call: %s\n", message.c_str());
                if (call->onError) call->onError(message);
                return;
            }
            const char* handle = nullptr;
            g_variant_get(reply, "(&o)", &handle);
            if (handle != call->expected) {
                auto handler = std::move(self->requests_[call->expected].second);
                self->dropRequest(call->expected);
                self->subscribeResponse(handle, std::move(handler));
            }
            g_variant_unref(reply);
        },
        call);
}

void PortalBus::subscribeResponse(const std::string& path, ResponseHandler handler) {
    std::weak_ptr<PortalBus> weak = weak_from_this();
    auto* target = new SignalTarget{weak, [weak, path](GVariant* parameters) {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        auto found = self->requests_.find(path);
                                        if (found == self->requests_.end()) return;
                                        auto answer = std::move(found->second.second);
                                        self->dropRequest(path);
                                        std::uint32_t response = 2;
                                        GVariant* results = nullptr;
                                        if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
                                            g_variant_get(parameters, "(u@a{sv})", &response, &results);
                                        if (answer) answer(response, results);
                                        if (results) g_variant_unref(results);
                                    }};
    const unsigned id =
        g_dbus_connection_signal_subscribe(bus_, portalName, "org.freedesktop.portal.Request", "Response", path.c_str(),
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal, target, freeSignalTarget);
    requests_[path] = {id, std::move(handler)};
}

void PortalBus::dropRequest(const std::string& path) {
    auto found = requests_.find(path);
    if (found == requests_.end()) return;
    const unsigned id = found->second.first;
    requests_.erase(found);
    g_dbus_connection_signal_unsubscribe(bus_, id);
}

void PortalBus::dropRequests() {
    while (!requests_.empty()) dropRequest(requests_.begin()->first);
}

void PortalBus::call(const std::string& path, const char* interface, const char* method, GVariant* parameters,
                     std::function<void()> done) {
    if (!bus_) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    if (!done) {
        g_dbus_connection_call(bus_, portalName, path.c_str(), interface, method, parameters, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr, nullptr);
        return;
    }
    struct Call {
        std::function<void()> done;
    };
    g_dbus_connection_call(
        bus_, portalName, path.c_str(), interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
        cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (error) g_error_free(error);
            if (reply) g_variant_unref(reply);
            if (!cancelled) call->done();  // else the bus object is gone
        },
        new Call{std::move(done)});
}

void PortalBus::property(const char* interface, const char* name, std::function<void(GVariant*)> done) {
    struct Read {
        std::function<void(GVariant*)> done;
    };
    g_dbus_connection_call(
        bus_, portalName, portalPath, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", interface, name),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Read> read(static_cast<Read*>(data));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (error) g_error_free(error);
            if (cancelled) return;  // the bus object is gone
            GVariant* value = nullptr;
            if (reply) g_variant_get(reply, "(v)", &value);
            read->done(value);
            if (value) g_variant_unref(value);
            if (reply) g_variant_unref(reply);
        },
        new Read{std::move(done)});
}

unsigned PortalBus::subscribe(const char* interface, const char* signal, const std::string& path,
                              SignalHandler handler) {
    auto* target = new SignalTarget{weak_from_this(), std::move(handler)};
    const unsigned id = g_dbus_connection_signal_subscribe(bus_, portalName, interface, signal, path.c_str(), nullptr,
                                                           G_DBUS_SIGNAL_FLAGS_NONE, onSignal, target, freeSignalTarget);
    subscriptions_.push_back(id);
    return id;
}

void PortalBus::unsubscribe(unsigned id) {
    for (auto it = subscriptions_.begin(); it != subscriptions_.end(); ++it) {
        if (*it != id) continue;
        subscriptions_.erase(it);
        g_dbus_connection_signal_unsubscribe(bus_, id);
        return;
    }
}

GVariant* PortalBus::options(const std::string& token, const std::vector<std::pair<const char*, GVariant*>>& more) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    for (auto& [key, value] : more) g_variant_builder_add(&options, "{sv}", key, value);
    return g_variant_builder_end(&options);
}

std::string PortalBus::stringEntry(GVariant* dict, const char* key) {
    if (!dict) return {};
    GVariant* value = g_variant_lookup_value(dict, key, nullptr);
    if (!value) return {};
    std::string out;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
        out = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    return out;
}

}  // namespace platform
