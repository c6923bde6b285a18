#include "platform/portal/RemoteDesktopPortal.h"

#include "platform/portal/PortalBus.h"

#include <gio/gio.h>

#include <deque>
#include <utility>
#include <vector>

namespace platform {

namespace {

constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
constexpr const char* kSessionToken = "tovrin_paste";
constexpr std::uint32_t kKeyboard = 1;
// Kept until the user revokes it.
constexpr std::uint32_t kPersistUntilRevoked = 2;

// Linux input key codes, as the portal takes them.
constexpr int kLeftControl = 29;
constexpr int kLeftShift = 42;
constexpr int kV = 47;

}  // namespace

struct RemoteDesktopPortal::Impl : std::enable_shared_from_this<Impl> {
    RemoteDesktopPortal* owner = nullptr;
    std::shared_ptr<PortalBus> bus;
    State state = State::idle;
    std::string restoreToken;
    std::string session;
    std::uint32_t version = 1;
    unsigned sessionClosed = 0;
    unsigned round = 0;

    ~Impl() {
        if (!session.empty()) bus->call(session, kSessionInterface, "Close", nullptr);
    }

    void setState(State next) {
        if (state == next) return;
        state = next;
        if (owner && owner->onStateChanged) owner->onStateChanged(next);
    }

    void start() {
        ++round;
        setState(State::asking);
        bus->connect(whileCurrent(*this, [](Impl& self, bool ok) {
            if (!ok) return self.setState(State::unavailable);
            // The version decides whether the grant can be kept across starts.
            self.bus->property(kRemoteDesktop, "version", whileCurrent(self, [](Impl& self, GVariant* value) {
                if (!value) return self.setState(State::unavailable);
                if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) self.version = g_variant_get_uint32(value);
                self.createSession();
            }));
        }));
    }

    void unavailable(const std::string&) { setState(State::unavailable); }

    void createSession() {
        const std::string token = bus->newToken();
        GVariant* options =
            PortalBus::options(token, {{"session_handle_token", g_variant_new_string(kSessionToken)}});
        bus->request(kRemoteDesktop, "CreateSession", g_variant_new("(@a{sv})", options), token,
                     whileCurrent(*this, [](Impl& self, std::uint32_t response, GVariant* results) {
                         if (response != 0) return self.setState(State::refused);
                         self.session = PortalBus::stringEntry(results, "session_handle");
                         if (self.session.empty()) return self.setState(State::unavailable);
                         self.watchSession();
                         self.selectDevices();
                     }),
                     whileCurrent(*this, [](Impl& self, const std::string& message) { self.unavailable(message); }));
    }

    void selectDevices() {
        const std::string token = bus->newToken();
        std::vector<std::pair<const char*, GVariant*>> more{{"types", g_variant_new_uint32(kKeyboard)}};
        if (version >= 2) {
            more.emplace_back("persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
            if (!restoreToken.empty()) more.emplace_back("restore_token", g_variant_new_string(restoreToken.c_str()));
        }
        GVariant* options = PortalBus::options(token, more);
        bus->request(kRemoteDesktop, "SelectDevices", g_variant_new("(o@a{sv})", session.c_str(), options), token,
                     whileCurrent(*this, [](Impl& self, std::uint32_t response, GVariant*) {
                         if (response != 0) return self.setState(State::refused);
                         self.startSession();
                     }),
                     whileCurrent(*this, [](Impl& self, const std::string& message) { self.unavailable(message); }));
    }

    void startSession() {
        const std::string token = bus->newToken();
        bus->request(kRemoteDesktop, "Start",
                     g_variant_new("(os@a{sv})", session.c_str(), "", PortalBus::options(token)), token,
                     whileCurrent(*this, [](Impl& self, std::uint32_t response, GVariant* results) {
                         std::uint32_t devices = 0;
                         if (results) g_variant_lookup(results, "devices", "u", &devices);
                         if (response != 0 || !(devices & kKeyboard)) return self.setState(State::refused);
                         const std::string token = PortalBus::stringEntry(results, "restore_token");
                         if (!token.empty() && token != self.restoreToken) {
                             self.restoreToken = token;
                             if (self.owner && self.owner->onRestoreToken) self.owner->onRestoreToken(token);
                         }
                         self.setState(State::granted);
                     }),
                     whileCurrent(*this, [](Impl& self, const std::string& message) { self.unavailable(message); }));
    }

    void watchSession() {
        if (sessionClosed) bus->unsubscribe(sessionClosed);
        sessionClosed = bus->subscribe(kSessionInterface, "Closed", session, whileCurrent(*this, [](Impl& self, GVariant*) {
                                           self.session.clear();
                                           self.setState(State::closed);
                                       }));
    }

    // The portal may handle calls that arrive together in any order (a release before its press
    // leaves the key down, repeating in the user's field): each key goes out once the one before
    // it was handled.
    std::deque<std::pair<int, bool>> keys;
    bool sending = false;

    void key(int code, bool down) {
        keys.emplace_back(code, down);
        sendNextKey();
    }

    void sendNextKey() {
        if (sending || keys.empty()) return;
        if (session.empty()) return keys.clear();  // closed meanwhile: its keys went with it
        const auto [code, down] = keys.front();
        keys.pop_front();
        sending = true;
        GVariant* options = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
        bus->call(PortalBus::portalPath, kRemoteDesktop, "NotifyKeyboardKeycode",
                  g_variant_new("(o@a{sv}iu)", session.c_str(), options, code, down ? 1u : 0u),
                  [weak = weak_from_this()] {
                      if (auto self = weak.lock()) {
                          self->sending = false;
                          self->sendNextKey();
                      }
                  });
    }
};

RemoteDesktopPortal::RemoteDesktopPortal(std::string busAddress) : impl_(std::make_shared<Impl>()) {
    impl_->owner = this;
    impl_->bus = PortalBus::create(std::move(busAddress));
}

RemoteDesktopPortal::~RemoteDesktopPortal() { impl_->owner = nullptr; }

void RemoteDesktopPortal::start(const std::string& restoreToken) {
    if (impl_->state == State::asking || impl_->state == State::granted) return;
    impl_->restoreToken = restoreToken;
    impl_->start();
}

RemoteDesktopPortal::State RemoteDesktopPortal::state() const { return impl_->state; }

std::uint32_t RemoteDesktopPortal::version() const { return impl_->version; }

bool RemoteDesktopPortal::targetIsTerminal() const { return focusedIsTerminal && focusedIsTerminal(); }

bool RemoteDesktopPortal::paste() {
    if (impl_->state == State::closed || impl_->state == State::idle) impl_->start();
    if (impl_->state != State::granted) return false;
    const bool terminal = targetIsTerminal();
    // Every key pressed is released, modifiers last.
    impl_->key(kLeftControl, true);
    if (terminal) impl_->key(kLeftShift, true);
    impl_->key(kV, true);
    impl_->key(kV, false);
    if (terminal) impl_->key(kLeftShift, false);
    impl_->key(kLeftControl, false);
    return true;
}

}  // namespace platform
