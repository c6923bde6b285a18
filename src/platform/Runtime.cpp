#include "platform/Runtime.h"

#include "platform/JsonFileDefaults.h"
#include "platform/Paths.h"
#include "platform/QtApp.h"
#include "platform/QtScheduler.h"
#include "platform/QtStatusItem.h"
#include "platform/QtWorkspace.h"
#include "platform/SecretServiceKeychain.h"
#include "platform/X11Accessibility.h"
#include "platform/XdgLoginItem.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace platform {

namespace {

// Reopen on this desktop: a second launch is not caught here; the application's activation
// (e.g. from the taskbar) stands for it.
class ReopenFilter : public QObject {
public:
    std::function<void()>* callback;
    explicit ReopenFilter(std::function<void()>* cb) : callback(cb) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::ApplicationActivate && *callback) (*callback)();
        return QObject::eventFilter(o, e);
    }
};

}  // namespace

struct Runtime::Impl {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtScheduler> scheduler;
    std::unique_ptr<JsonFileDefaults> defaults;
    std::unique_ptr<SecretServiceKeychain> keychain;
    QtApp appShell;
    QtStatusBar statusBar;
    QtWorkspace workspace;
    X11Accessibility accessibility;
    XdgLoginItem loginItem;
};

Runtime::Runtime(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName("Tovrin");
    QApplication::setApplicationVersion(TOVRIN_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->scheduler = std::make_unique<QtScheduler>();
    Scheduler::setMain(impl_->scheduler.get());
    impl_->defaults = std::make_unique<JsonFileDefaults>(Paths::config() + "/Tovrin/defaults.json");
    Defaults::setShared(impl_->defaults.get());
    impl_->keychain = std::make_unique<SecretServiceKeychain>();
    Keychain::setShared(impl_->keychain.get());
    App::setShared(&impl_->appShell);
    StatusBar::setSystem(&impl_->statusBar);
    Workspace::setShared(&impl_->workspace);
    Accessibility::setShared(&impl_->accessibility);
    LoginItem::setShared(&impl_->loginItem);
}

Runtime::~Runtime() = default;

void Runtime::whenLaunched(std::function<void()> fn) { QTimer::singleShot(0, impl_->app.get(), std::move(fn)); }

int Runtime::exec() {
    QObject::connect(impl_->app.get(), &QCoreApplication::aboutToQuit, [this] {
        if (onTerminate) onTerminate();
    });
    return impl_->app->exec();
}

}  // namespace platform
