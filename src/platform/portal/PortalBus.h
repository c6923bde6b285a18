// The desktop portal's D-Bus conversation, shared by the portal clients: one connection (the
// session bus, or a given address), method calls that answer through a Request object's
// `Response` signal, and signal subscriptions whose handlers go with this object. Everything runs
// asynchronously on the main thread's GLib context; nothing here blocks, and a bus that goes away
// never ends the program.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace platform {

class PortalBus : public std::enable_shared_from_this<PortalBus> {
public:
    static constexpr const char* portalName = "org.freedesktop.portal.Desktop";
    static constexpr const char* portalPath = "/org/freedesktop/portal/desktop";

    // `results` is an a{sv} dictionary, or null.
    using ResponseHandler = std::function<void(std::uint32_t response, GVariant* results)>;
    using ErrorHandler = std::function<void(const std::string& message)>;
    // The signal's parameters tuple.
    using SignalHandler = std::function<void(GVariant* parameters)>;

    // `address` empty: the session bus.
    static std::shared_ptr<PortalBus> create(std::string address = {});
    ~PortalBus();

    // Connects once; later calls answer at once with the first outcome.
    void connect(std::function<void(bool ok)> done);
    bool connected() const { return bus_ != nullptr; }

    // A fresh handle token and the path of the Request object the portal makes for it.
    std::string newToken();
    std::string requestPath(const std::string& token) const;

    // Calls `method` of the portal's `interface` with `parameters` (a floating tuple that carries
    // `token` as its handle_token) and hands the Request's `Response` to `onResponse`; a call the
    // portal refuses outright (no portal, no such method) goes to `onError`.
    void request(const char* interface, const char* method, GVariant* parameters, const std::string& token,
                 ResponseHandler onResponse, ErrorHandler onError);
    // A call whose answer matters only as a sign that it was handled (`Close`, key notifications):
    // `done`, when given, runs once the portal answered or refused it (never after this object).
    void call(const std::string& path, const char* interface, const char* method, GVariant* parameters,
              std::function<void()> done = {});
    // Reads a property of the portal object; `done` gets null when it cannot be read.
    void property(const char* interface, const char* name, std::function<void(GVariant* value)> done);

    // Subscribes to a signal of the portal; the handler goes with `unsubscribe` or this object.
    unsigned subscribe(const char* interface, const char* signal, const std::string& path, SignalHandler handler);
    void unsubscribe(unsigned id);
    // Drops every open request without answering it.
    void dropRequests();

    // A string entry of an a{sv} dictionary ("" when missing; object paths count as strings).
    static std::string stringEntry(GVariant* dict, const char* key);
    // A floating a{sv} of a request's options: its handle token, then `more` (floating values).
    static GVariant* options(const std::string& token, const std::vector<std::pair<const char*, GVariant*>>& more = {});

private:
    explicit PortalBus(std::string address);
    void subscribeResponse(const std::string& path, ResponseHandler handler);
    void dropRequest(const std::string& path);

    std::string address_;
    GDBusConnection* bus_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    bool connecting_ = false;
    bool failed_ = false;
    std::vector<std::function<void(bool)>> waiting_;
    unsigned tokens_ = 0;
    std::map<std::string, std::pair<unsigned, ResponseHandler>> requests_;
    std::vector<unsigned> subscriptions_;
};

// Wraps `fn(client, args...)` for an answer that comes later: it runs only while `client` (an
// object with a `round` bumped at every start and stop) lives and is still in the same round.
template <typename Client, typename Fn>
auto whileCurrent(Client& client, Fn fn) {
    return [weak = client.weak_from_this(), round = client.round, fn](auto&&... args) {
        auto self = weak.lock();
        if (self && self->round == round) fn(*self, std::forward<decltype(args)>(args)...);
    };
}

}  // namespace platform
