#include "platform/portal/GlobalShortcutsPortal.h"

#include "platform/KeyEvents.h"
#include "platform/portal/PortalBus.h"

#include <gio/gio.h>

#include <memory>
#include <utility>

namespace platform {

namespace {

constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
// Fixed, so the desktop files the user's choice under the same name at every start.
constexpr const char* kSessionToken = "tovrin";
constexpr const char* kDescription = "Hold to dictate";

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
            *trigger = PortalBus::stringEntry(properties, "trigger_description");
        }
        g_variant_unref(properties);
    }
    return found;
}

// Our shortcut in the `shortcuts` entry of a portal's results.
bool findShortcutIn(GVariant* results, std::string* trigger) {
    GVariant* shortcuts = results ? g_variant_lookup_value(results, "shortcuts", nullptr) : nullptr;
    const bool found = findShortcut(shortcuts, trigger);
    if (shortcuts) g_variant_unref(shortcuts);
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
    std::shared_ptr<PortalBus> bus;
    State state = State::idle;
    std::string preferredTrigger;
    std::string trigger;
    std::string session;
    bool down = false;
    bool keysWatched = false;
    unsigned sessionClosed = 0;
    // Bumped by every start and stop: answers to an earlier round are dropped.
    unsigned round = 0;

    ~Impl() { closeSession(); }

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

    void release() {
        if (!down) return;
        down = false;
        if (owner && owner->onReleased) owner->onReleased();
    }

    void start() {
        const unsigned thisRound = ++round;
        setState(State::connecting);
        bus->connect([weak = weak_from_this(), thisRound](bool ok) {
            auto self = weak.lock();
            if (!self || self->round != thisRound) return;
            if (!ok) {
                self->setState(State::unavailable);
                return;
            }
            self->watchKeys();
            self->createSession();
        });
    }

    void watchKeys() {
        if (keysWatched) return;
        keysWatched = true;
        std::weak_ptr<Impl> weak = weak_from_this();
        auto onKey = [weak](bool pressed) {
            return [weak, pressed](GVariant* parameters) {
                auto self = weak.lock();
                if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
                const char* sessionPath = nullptr;
                const char* id = nullptr;
                guint64 timestamp = 0;
                g_variant_get(parameters, "(&o&st@a{sv})", &sessionPath, &id, &timestamp, nullptr);
                if (self->state != State::bound || self->session != sessionPath || std::string(id) != shortcutId)
                    return;
                pressed ? self->press() : self->release();
            };
        };
        bus->subscribe(kShortcutsInterface, "Activated", PortalBus::portalPath, onKey(true));
        bus->subscribe(kShortcutsInterface, "Deactivated", PortalBus::portalPath, onKey(false));
        bus->subscribe(kShortcutsInterface, "ShortcutsChanged", PortalBus::portalPath, [weak](GVariant* parameters) {
            auto self = weak.lock();
            if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))"))) return;
            const char* sessionPath = nullptr;
            GVariant* shortcuts = nullptr;
            g_variant_get(parameters, "(&o@a(sa{sv}))", &sessionPath, &shortcuts);
            std::string trigger;
            if (self->session == sessionPath && findShortcut(shortcuts, &trigger)) {
                self->trigger = trigger;
                if (self->owner && self->owner->onStateChanged) self->owner->onStateChanged(self->state);
            }
            g_variant_unref(shortcuts);
        });
    }

    void createSession() {
        const std::string token = bus->newToken();
        // Plasma 5.27 binds what the "shortcuts" option names; other desktops leave it aside.
        GVariant* options = PortalBus::options(token, {{"session_handle_token", g_variant_new_string(kSessionToken)},
                                                       {"shortcuts", shortcutList(preferredTrigger)}});
        bus->request(kShortcutsInterface, "CreateSession", g_variant_new("(@a{sv})", options), token,
                     whileCurrent(*this, [](Impl& self, std::uint32_t response, GVariant* results) {
                         if (response != 0) return self.setState(State::refused);
                         self.session = PortalBus::stringEntry(results, "session_handle");
                         if (self.session.empty()) return self.setState(State::unavailable);
                         self.watchSession();
                         std::string bound;
                         if (findShortcutIn(results, &bound)) {
                             self.trigger = bound;
                             self.setState(State::bound);
                         } else {
                             self.bindShortcuts();
                         }
                     }),
                     whileCurrent(*this, [](Impl& self, const std::string&) { self.setState(State::unavailable); }));
    }

    void bindShortcuts() {
        const std::string token = bus->newToken();
        bus->request(kShortcutsInterface, "BindShortcuts",
                     g_variant_new("(o@a(sa{sv})s@a{sv})", session.c_str(), shortcutList(preferredTrigger), "",
                                   PortalBus::options(token)),
                     token,
                     whileCurrent(*this, [](Impl& self, std::uint32_t response, GVariant* results) {
                         if (response != 0) return self.setState(State::refused);
                         findShortcutIn(results, &self.trigger);
                         self.setState(State::bound);
                     }),
                     whileCurrent(*this, [](Impl& self, const std::string&) { self.setState(State::unavailable); }));
    }

    void watchSession() {
        if (sessionClosed) bus->unsubscribe(sessionClosed);
        sessionClosed = bus->subscribe(kSessionInterface, "Closed", session, whileCurrent(*this, [](Impl& self, GVariant*) {
                                           self.session.clear();
                                           self.release();
                                           self.setState(State::closed);
                                       }));
    }

    void closeSession() {
        if (sessionClosed) bus->unsubscribe(sessionClosed);
        sessionClosed = 0;
        if (!session.empty()) bus->call(session, kSessionInterface, "Close", nullptr);
        session.clear();
    }

    void stop() {
        ++round;
        release();
        bus->dropRequests();
        closeSession();
        trigger.clear();
        setState(State::idle);
    }
};

GlobalShortcutsPortal::GlobalShortcutsPortal(std::string busAddress) : impl_(std::make_shared<Impl>()) {
    impl_->owner = this;
    impl_->bus = PortalBus::create(std::move(busAddress));
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
