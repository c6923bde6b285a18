#include "platform/loader/Runtime.h"

#include "platform/xdg/DBusDesktopNotifier.h"
#include "platform/ControlLine.h"
#include "platform/DesktopEntry.h"
#include "platform/InstanceLock.h"
#include "platform/loader/PlatformLoader.h"
#include "platform/xdg/JsonFileDefaults.h"
#include "platform/Paths.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseMicPermission.h"
#include "platform/pulse/PulseSoundServer.h"
#include "platform/pulse/PulseSounds.h"
#include "platform/qt/QtApp.h"
#include "platform/qt/QtLogFile.h"
#include "platform/qt/QtScheduler.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/QtWorkspace.h"
#include "platform/secret/SecretServiceKeychain.h"
#include "platform/x11/X11WindowActivation.h"
#include "platform/xdg/XdgLoginItem.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <X11/Xlib.h>  // last: its macros clash with names in the headers above

namespace platform {

namespace {

// One program per user: the one holding the instance lock listens on a socket in the runtime
// folder, and writes its path into the lock file. A second start hands over to it (which treats
// it as the user opening the program again), and the key commands reach it there.
QString instanceSocketPath() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + "/tovrin-" + QString::number(getuid()) + ".sock";
}

// SIGTERM, SIGINT and SIGHUP end the program as "Quit" does, so that what runs on termination
// (stopping the local server among it) runs, after a dictation in flight has had its chance to
// finish: the handler only writes to a pipe that the event loop reads. It also wakes a thread of
// its own that ends the program should the orderly way not have done so in time (the main thread
// held up, or something on the way out hanging): that thread stops the program's child processes
// (the local server among them) and exits.
int g_signalPipe[2] = {-1, -1};
int g_forcedQuitPipe[2] = {-1, -1};
// Set on the main thread once a signal has been read: the orderly quit then tells the watching
// thread when it begins.
bool g_signalled = false;
// What the main thread writes to the watching thread when the orderly quit begins.
constexpr char kQuitBegun = 'q';

// How long the orderly quit may take before the program is ended regardless.
constexpr auto kOrderlyQuitGrace = std::chrono::milliseconds(650);
constexpr auto kInFlightGrace = std::chrono::milliseconds(static_cast<int>(Runtime::inFlightGrace * 1000));
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

// SIGTERM to every child still running, SIGCONT so that a stopped one acts on it, and SIGKILL to
// whichever is left after the grace.
void endChildren() {
    std::vector<pid_t> children = runningChildren();
    if (children.empty()) return;
    for (pid_t child : children) {
        kill(child, SIGTERM);
        kill(child, SIGCONT);
    }
    const auto deadline = std::chrono::steady_clock::now() + kChildGrace;
    while (!runningChildren().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (pid_t child : runningChildren()) kill(child, SIGKILL);
}

[[noreturn]] void forceQuit(int sig) {
    std::fprintf(stderr, "Tovrin: still running %lld ms after the orderly quit was due (signal %d); ending now\n",
                 static_cast<long long>(kOrderlyQuitGrace.count()), sig);
    endChildren();
    _exit(128 + sig);
}

// Waits for the first signal, then for the orderly quit to begin (at most kInFlightGrace), then
// gives it kOrderlyQuitGrace.
void watchForcedQuit() {
    // Termination signals are taken by the other threads, so that this one only watches.
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&mask, sig);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    char sig = 0;
    for (ssize_t n; (n = read(g_forcedQuitPipe[0], &sig, 1)) != 1 || sig == kQuitBegun;)
        if (n == 0 || (n < 0 && errno != EINTR)) return;
    const auto due = std::chrono::steady_clock::now() + kInFlightGrace;
    for (char byte = 0; byte != kQuitBegun;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{g_forcedQuitPipe[0], POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = read(g_forcedQuitPipe[0], &byte, 1);
        if (n == 0) return;
        // A second signal makes the main thread quit at once: it sends kQuitBegun then.
    }
    std::this_thread::sleep_for(kOrderlyQuitGrace);
    forceQuit(sig);
}

std::unique_ptr<QSocketNotifier> quitOnTerminationSignals(QObject* context, std::function<void()> onSignal) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    // The handler must never block on a full pipe; the watching thread waits on its end.
    if (pipe2(g_forcedQuitPipe, O_CLOEXEC) != 0) return nullptr;
    fcntl(g_forcedQuitPipe[1], F_SETFL, fcntl(g_forcedQuitPipe[1], F_GETFL) | O_NONBLOCK);
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, context, [onSignal = std::move(onSignal)] {
        char buffer[16];
        while (read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        g_signalled = true;
        onSignal();
    });
    std::thread(watchForcedQuit).detach();
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
    return notifier;
}

// Sends one line to the program listening at `path`; false when none answers there.
bool sendLine(const QString& path, const std::string& line) {
    if (path.isEmpty()) return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(500)) return false;
    socket.write(QByteArray::fromStdString(line + "\n"));
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
    return true;
}

// The launcher's token for the window this start should bring up: the start-up notification id
// on X11, the activation token on Wayland. Read before Qt takes them out of the environment.
std::string activationTokenOfThisStart() {
    for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"})
        if (const char* v = std::getenv(name); v && *v && !std::strchr(v, '\n')) return v;
    return {};
}

}  // namespace

struct Runtime::Impl {
    // The arguments the application object is built with (its platform added); they outlive it.
    int argc = 0;
    std::vector<std::string> argStorage;
    std::vector<char*> argv;
    std::string activationToken = activationTokenOfThisStart();
    std::string startupId = qEnvironmentVariable("DESKTOP_STARTUP_ID").toStdString();
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
    XdgLoginItem loginItem;
    std::unique_ptr<PlatformLoader> loader;
    InstanceLock instanceLock;
    std::unique_ptr<PulseSoundServer> soundServer;
    std::unique_ptr<PulseMicPermission> micPermission;
    std::unique_ptr<PulseAudioInput> audioInput;
    std::unique_ptr<PulseSounds> sounds;
    std::unique_ptr<QSocketNotifier> terminationSignals;
    int signalsSeen = 0;
};

Runtime::Runtime(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    QtLogFile::install(QtLogFile::defaultPath());
    // File dialogs are the desktop's own through its XDG portal where one runs (the theme falls
    // back to the desktop's usual one otherwise), unless the user chose a theme.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    // The UI stays on X11 (XWayland under a Wayland compositor) wherever there is an X display:
    // as a native Wayland client the floating panel would take the focus from the user's field,
    // and the compositor refuses a clipboard set from the background.
    for (int i = 0; i < argc; ++i) impl_->argStorage.emplace_back(argv[i]);
    if (const std::string platform = SessionProbe::uiPlatform(); !platform.empty()) {
        impl_->argStorage.insert(impl_->argStorage.begin() + (argc > 0 ? 1 : 0), {"-platform", platform});
    }
    for (auto& arg : impl_->argStorage) impl_->argv.push_back(arg.data());
    impl_->argc = static_cast<int>(impl_->argv.size());
    impl_->argv.push_back(nullptr);
    impl_->app = std::make_unique<QApplication>(impl_->argc, impl_->argv.data());
    QApplication::setApplicationName("Tovrin");
    QApplication::setApplicationVersion(TOVRIN_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->terminationSignals = quitOnTerminationSignals(impl_->app.get(), [this] {
        // The first signal lets work in flight finish, for a while; a second one ends the wait.
        auto quit = [] { QCoreApplication::quit(); };
        if (++impl_->signalsSeen > 1 || !onTerminationRequested) {
            quit();
            return;
        }
        QTimer::singleShot(std::chrono::milliseconds(kInFlightGrace), impl_->app.get(), quit);
        onTerminationRequested([app = QPointer<QApplication>(impl_->app.get())] {
            if (app) QTimer::singleShot(0, app, [] { QCoreApplication::quit(); });
        });
    });
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
    LoginItem::setShared(&impl_->loginItem);
    // The backends that depend on the desktop session, as the probe decides.
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    impl_->loader = std::make_unique<PlatformLoader>(x11 ? x11->display() : nullptr);
    // KWin grants fake input by the desktop entry, read when our connection opens: bring it up to
    // date with this executable before the probe connects.
    const bool entryWritten = DesktopEntry::ensure() == DesktopEntry::Update::written;
    const SessionChoice wanted = SessionProbe::decide(PlatformLoader::probeSession(), PlatformLoader::builtBackends());
    SessionChoice::setCurrent(impl_->loader->install(wanted));
    impl_->loader->startDesktopServices([this](ControlCommand command) {
        if (onControl) onControl(command);
    }, entryWritten);

    impl_->soundServer = std::make_unique<PulseSoundServer>();
    SoundServer::setShared(impl_->soundServer.get());
    impl_->micPermission = std::make_unique<PulseMicPermission>(*impl_->soundServer);
    MicPermission::setShared(impl_->micPermission.get());
    impl_->audioInput = std::make_unique<PulseAudioInput>();
    AudioInput::setShared(impl_->audioInput.get());
    impl_->sounds = std::make_unique<PulseSounds>();
    Sounds::setShared(impl_->sounds.get());
}

Runtime::~Runtime() = default;

bool Runtime::handOverToRunningInstance() {
    // "reopen", with the token of this start when the launcher gave one.
    const std::string reopen = impl_->activationToken.empty() ? "reopen" : "reopen " + impl_->activationToken;
    auto& lock = impl_->instanceLock;
    if (!lock.acquire()) {
        if (!lock.error().empty()) {
            // No lock to be had (the data folder is not writable): one per runtime folder, as far
            // as the socket tells.
            std::fprintf(stderr, "Tovrin: %s\n", lock.error().c_str());
            if (sendLine(instanceSocketPath(), reopen)) return impl_->handedOver = true;
        } else {
            // Another copy holds it. It may be a moment away from listening: give it that moment.
            for (int attempt = 0; attempt < 20; ++attempt) {
                if (sendLine(QString::fromStdString(InstanceLock::publishedSocket()), reopen))
                    return impl_->handedOver = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::fprintf(stderr, "Tovrin is already running for this user but does not answer; this copy ends.\n");
            return impl_->handedOver = true;
        }
    }
    QLocalServer::removeServer(instanceSocketPath());
    impl_->instanceServer = std::make_unique<QLocalServer>();
    impl_->instanceServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (impl_->instanceServer->listen(instanceSocketPath())) {
        if (lock.held()) lock.publish(instanceSocketPath().toStdString());
        QObject::connect(impl_->instanceServer.get(), &QLocalServer::newConnection, impl_->app.get(), [this] {
            while (QLocalSocket* peer = impl_->instanceServer->nextPendingConnection()) {
                QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] { readControlLines(peer); });
                // A sender writes its line and goes at once: what it wrote still counts.
                QObject::connect(peer, &QLocalSocket::disconnected, peer, [this, peer] {
                    readControlLines(peer);
                    peer->deleteLater();
                });
            }
        });
    } else {
        std::fprintf(stderr, "Tovrin: cannot listen on %s: %s\n", qPrintable(instanceSocketPath()),
                     qPrintable(impl_->instanceServer->errorString()));
    }
    return false;
}

void Runtime::readControlLines(QLocalSocket* peer) {
    while (peer->canReadLine()) {
        const QByteArray line = peer->readLine(ControlLine::maxLength + 2);
        if (!line.endsWith('\n')) {
            peer->abort();  // longer than any command of ours
            return;
        }
        // A second start's "reopen" may carry its launcher's activation token.
        if (line.startsWith("reopen ")) {
            reopened(line.mid(7).trimmed().toStdString());
            continue;
        }
        const auto command = ControlLine::parse(std::string_view(line.constData(), line.size()));
        if (!command) {
            std::fprintf(stderr, "Tovrin: ignored an unknown command line\n");
            continue;
        }
        if (*command == ControlCommand::reopen) {
            reopened({});
        } else if (onControl) {
            onControl(*command);
        }
    }
    // A line that grows past any command's length is no command of ours.
    if (peer->bytesAvailable() > static_cast<qint64>(ControlLine::maxLength)) peer->abort();
}


void Runtime::reopened(const std::string& token) {
    // Qt on Wayland activates with the token it finds in the environment.
    if (!token.empty() && QGuiApplication::platformName() == "wayland")
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
    if (onReopen) onReopen();
    // On X11 the window manager is asked with the time of the user's action, so that one that
    // prevents focus stealing does not just flag the window.
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    QWidget* front = impl_->appShell.frontWindow();
    if (x11 && front) X11WindowActivation::activate(x11->display(), front->winId(), token);
}

void Runtime::whenLaunched(std::function<void()> fn) {
    QTimer::singleShot(0, impl_->app.get(), [this, fn = std::move(fn)] {
        fn();
        // A start from a launcher that shows no window (the tray only) still ends the launcher's
        // start-up notification; a window shown later ends it again, harmlessly.
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        if (x11 && !impl_->appShell.hasVisibleWindows())
            X11WindowActivation::completeStartup(x11->display(), impl_->startupId);
    });
}

int Runtime::exec() {
    QObject::connect(impl_->app.get(), &QCoreApplication::aboutToQuit, [this] {
        if (g_signalled) {
            // The orderly quit begins: the watching thread gives it its grace from now.
            ssize_t unused = write(g_forcedQuitPipe[1], &kQuitBegun, 1);
            (void)unused;
        }
        if (onTerminate) onTerminate();
    });
    const int status = impl_->app->exec();
    // Nothing of ours outlives us, a stopped child (which cannot act on SIGTERM) included.
    endChildren();
    return status;
}

}  // namespace platform
