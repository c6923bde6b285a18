#include "platform/loader/Runtime.h"

#include "platform/xdg/DBusDesktopNotifier.h"
#include "platform/xdg/JsonFileDefaults.h"
#include "platform/Paths.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseMicPermission.h"
#include "platform/pulse/PulseSoundServer.h"
#include "platform/pulse/PulseSounds.h"
#include "platform/qt/QtApp.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtScheduler.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/QtWorkspace.h"
#include "platform/secret/SecretServiceKeychain.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11EscSwallow.h"
#include "platform/x11/X11KeyEvents.h"
#include "platform/x11/X11KeyGrab.h"
#include "platform/x11/X11KeySynth.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/VirtualKeyboardKeySynth.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/xdg/XdgLoginItem.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace platform {

namespace {

// One program per user session: a second start hands over to the running one (which treats it
// as the user opening the program again) through a socket in the runtime folder.
QString instanceSocketPath() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + "/tovrin-" + QString::number(getuid()) + ".sock";
}

// SIGTERM, SIGINT and SIGHUP end the program as "Quit" does, so that what runs on termination
// (stopping the local server among it) runs: the handler only writes to a pipe that the event
// loop reads. It also wakes a thread of its own that ends the program should the orderly way not
// have done so in time (the main thread held up, or something on the way out hanging): that
// thread stops the program's child processes (the local server among them) and exits.
int g_signalPipe[2] = {-1, -1};
int g_forcedQuitPipe[2] = {-1, -1};

// How long the orderly quit may take before the program is ended regardless.
constexpr auto kOrderlyQuitGrace = std::chrono::milliseconds(650);
constexpr auto kChildGrace = std::chrono::milliseconds(150);

void onTerminationSignal(int sig) {
    const char byte = static_cast<char>(sig);
    ssize_t unused = write(g_signalPipe[1], &byte, 1);
    unused = write(g_forcedQuitPipe[1], &byte, 1);
    (void)unused;
}

// The PIDs of this process's children that still run.
std::vector<pid_t> runningChildren() {
    std::vector<pid_t> out;
    const pid_t self = getpid();
    DIR* proc = opendir("/proc");
    if (!proc) return out;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        FILE* f = std::fopen(path, "re");
        if (!f) continue;
        char buffer[512] = {};
        const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        buffer[n] = '\0';
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const char* close = std::strrchr(buffer, ')');
        char state = 0;
        long ppid = 0;
        if (close && std::sscanf(close + 1, " %c %ld", &state, &ppid) == 2 && ppid == self && state != 'Z')
            out.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return out;
}

[[noreturn]] void forceQuit(int sig) {
    std::fprintf(stderr, "Tovrin: still running %lld ms after signal %d; ending now\n",
                 static_cast<long long>(kOrderlyQuitGrace.count()), sig);
    for (pid_t child : runningChildren()) kill(child, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kChildGrace;
    while (!runningChildren().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (pid_t child : runningChildren()) kill(child, SIGKILL);
    _exit(128 + sig);
}

std::unique_ptr<QSocketNotifier> quitOnTerminationSignals(QObject* context) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    // The handler must never block on a full pipe; the watching thread waits on its end.
    if (pipe2(g_forcedQuitPipe, O_CLOEXEC) != 0) return nullptr;
    fcntl(g_forcedQuitPipe[1], F_SETFL, fcntl(g_forcedQuitPipe[1], F_GETFL) | O_NONBLOCK);
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, context, [] {
        char buffer[16];
        while (read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });
    std::thread([] {
        // Termination signals are taken by the other threads, so that this one only watches.
        sigset_t mask;
        sigemptyset(&mask);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&mask, sig);
        pthread_sigmask(SIG_BLOCK, &mask, nullptr);
        char sig = 0;
        for (ssize_t n; (n = read(g_forcedQuitPipe[0], &sig, 1)) != 1;)
            if (n == 0 || errno != EINTR) return;
        std::this_thread::sleep_for(kOrderlyQuitGrace);
        forceQuit(sig);
    }).detach();
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
    return notifier;
}

// The paste goes through the compositor when the program runs in a Wayland session whose
// compositor lets a program in the background set the clipboard and send keys (wlroots
// compositors); X11 mechanisms reach only XWayland windows there. Null otherwise.
std::unique_ptr<WaylandConnection> waylandForPaste() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return nullptr;
    auto connection = std::make_unique<WaylandConnection>();
    const WaylandGlobals& offered = connection->globals();
    if (!connection->ok() || !offered.dataControl || !offered.virtualKeyboard) return nullptr;
    return connection;
}

}  // namespace

struct Runtime::Impl {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QLocalServer> instanceServer;
    bool handedOver = false;
    std::unique_ptr<QtScheduler> scheduler;
    std::unique_ptr<JsonFileDefaults> defaults;
    std::unique_ptr<SecretServiceKeychain> keychain;
    QtApp appShell;
    QtStatusBar statusBar;
    QtWorkspace workspace;
    DBusDesktopNotifier notifier;
    X11Accessibility accessibility;
    XdgLoginItem loginItem;
    std::unique_ptr<WaylandConnection> wayland;  // outlives the backends that use it
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<KeySynth> keySynth;
    std::unique_ptr<PulseSoundServer> soundServer;
    std::unique_ptr<PulseMicPermission> micPermission;
    std::unique_ptr<PulseAudioInput> audioInput;
    std::unique_ptr<PulseSounds> sounds;
    std::unique_ptr<X11KeyEvents> keyEvents;
    std::unique_ptr<X11EscSwallow> escSwallow;
    std::unique_ptr<X11KeyGrab> keyGrab;
    std::unique_ptr<QSocketNotifier> terminationSignals;
};

Runtime::Runtime(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName("Tovrin");
    QApplication::setApplicationVersion(TOVRIN_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->terminationSignals = quitOnTerminationSignals(impl_->app.get());
    impl_->scheduler = std::make_unique<QtScheduler>();
    Scheduler::setMain(impl_->scheduler.get());
    impl_->defaults = std::make_unique<JsonFileDefaults>(Paths::config() + "/Tovrin/defaults.json");
    Defaults::setShared(impl_->defaults.get());
    impl_->keychain = std::make_unique<SecretServiceKeychain>();
    Keychain::setShared(impl_->keychain.get());
    App::setShared(&impl_->appShell);
    StatusBar::setSystem(&impl_->statusBar);
    Workspace::setShared(&impl_->workspace);
    DesktopNotifier::setShared(&impl_->notifier);
    Accessibility::setShared(&impl_->accessibility);
    LoginItem::setShared(&impl_->loginItem);
    impl_->wayland = waylandForPaste();
    if (impl_->wayland) {
        auto pasteboard = std::make_unique<DataControlPasteboard>(*impl_->wayland);
        auto keySynth = std::make_unique<VirtualKeyboardKeySynth>(*impl_->wayland);
        if (pasteboard->ok() && keySynth->ok()) {
            impl_->pasteboard = std::move(pasteboard);
            impl_->keySynth = std::move(keySynth);
        }
    }
    if (!impl_->pasteboard) {
        impl_->keySynth.reset();
        impl_->wayland.reset();
        impl_->pasteboard = std::make_unique<QtPasteboard>();
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        impl_->keySynth = std::make_unique<X11KeySynth>(x11 ? x11->display() : nullptr);
    }
    Pasteboard::setGeneral(impl_->pasteboard.get());
    KeySynth::setShared(impl_->keySynth.get());

    impl_->soundServer = std::make_unique<PulseSoundServer>();
    SoundServer::setShared(impl_->soundServer.get());
    impl_->micPermission = std::make_unique<PulseMicPermission>(*impl_->soundServer);
    MicPermission::setShared(impl_->micPermission.get());
    impl_->audioInput = std::make_unique<PulseAudioInput>();
    AudioInput::setShared(impl_->audioInput.get());
    impl_->sounds = std::make_unique<PulseSounds>();
    Sounds::setShared(impl_->sounds.get());

    impl_->keyEvents = std::make_unique<X11KeyEvents>();
    KeyEvents::setShared(impl_->keyEvents.get());
    impl_->escSwallow = std::make_unique<X11EscSwallow>();
    EscSwallow::setShared(impl_->escSwallow.get());
    impl_->keyGrab = std::make_unique<X11KeyGrab>();
    KeyGrab::setShared(impl_->keyGrab.get());
}

Runtime::~Runtime() = default;

bool Runtime::handOverToRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(instanceSocketPath());
    if (socket.waitForConnected(500)) {
        socket.write("reopen\n");
        socket.waitForBytesWritten(500);
        socket.disconnectFromServer();
        impl_->handedOver = true;
        return true;
    }
    QLocalServer::removeServer(instanceSocketPath());
    impl_->instanceServer = std::make_unique<QLocalServer>();
    impl_->instanceServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (impl_->instanceServer->listen(instanceSocketPath())) {
        QObject::connect(impl_->instanceServer.get(), &QLocalServer::newConnection, impl_->app.get(), [this] {
            while (QLocalSocket* peer = impl_->instanceServer->nextPendingConnection()) {
                QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                if (onReopen) onReopen();
            }
        });
    }
    return false;
}

void Runtime::whenLaunched(std::function<void()> fn) { QTimer::singleShot(0, impl_->app.get(), std::move(fn)); }

int Runtime::exec() {
    QObject::connect(impl_->app.get(), &QCoreApplication::aboutToQuit, [this] {
        if (onTerminate) onTerminate();
    });
    return impl_->app->exec();
}

}  // namespace platform
