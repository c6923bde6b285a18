// A desktop portal on a private bus whose answers each test scripts: GlobalShortcuts and
// RemoteDesktop, the way xdg-desktop-portal answers (a Request path at once, the outcome in its
// Response signal). It records the calls it got. The bus is a dbus-daemon of its own.
#pragma once

// GLib's headers name a field "signals", which Qt's headers define: GLib comes first.
#include <gio/gio.h>

#include <QProcess>
#include <QTemporaryFile>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

class FakePortal {
public:
    FakePortal();
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    bool ok() const { return portal_ != nullptr; }
    const std::string& address() const { return address_; }
    // Gives up the portal's name: the bus stays, the portal is gone.
    void vanish();

    // GlobalShortcuts: the answer of each method, whether CreateSession already returns the
    // shortcut bound (Plasma 5.27), the trigger reported.
    std::uint32_t createAnswer = 0;
    std::uint32_t bindAnswer = 0;
    bool boundInCreate = false;
    std::string trigger = "Ctrl+Alt+D";
    std::vector<std::string> preferredTriggers;  // as CreateSession received them

    // RemoteDesktop: the interface version, the answer of Start, the restore token it hands out.
    std::uint32_t remoteDesktopVersion = 1;
    std::uint32_t startAnswer = 0;
    std::string newRestoreToken = "token-1";
    std::string receivedRestoreToken;
    std::uint32_t receivedPersistMode = 0;
    std::vector<std::string> keys;  // "29+", "47-", … as NotifyKeyboardKeycode received them
    // Key notifications are left unanswered until answerHeldKeys().
    bool holdKeyAnswers = false;
    void answerHeldKeys();

    std::vector<std::string> calls;  // "Interface.Method" without the common prefix
    const std::string session = "/org/freedesktop/portal/desktop/session/1_1/tovrin";

    // Signals to the client.
    void shortcut(const char* signal);  // "Activated" or "Deactivated"
    void closeSession();

private:
    static void onCall(GDBusConnection*, const char* sender, const char*, const char* interface, const char* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data);
    static GVariant* onProperty(GDBusConnection*, const char*, const char*, const char* interface, const char* name,
                                GError**, gpointer data);
    void respond(GDBusMethodInvocation* invocation, const std::string& sender, GVariant* options, std::uint32_t code,
                 GVariant* results);
    void sendSignal(const std::string& path, const char* interface, const char* signal, GVariant* parameters);

    QTemporaryFile config_;
    QProcess daemon_;
    std::string address_;
    GDBusConnection* portal_ = nullptr;
    GDBusNodeInfo* info_ = nullptr;
    std::vector<unsigned> registrations_;
    std::string client_;
    std::vector<GDBusMethodInvocation*> heldKeys_;
};

}  // namespace test
