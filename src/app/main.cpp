#include "app/AppDelegate.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/AppcastUpdater.h"
#include "platform/ControlClient.h"
#include "platform/ControlLine.h"
#include "platform/loader/Runtime.h"

namespace {
// Deployment configuration: where released versions are announced.
constexpr const char* kUpdateFeed = "https://tovrin.app/appcast.xml";
}

int main(int argc, char** argv) {
    // `tovrin --ptt-down` and its kin, run by a desktop's key binding on every press: one line to
    // the running program, before anything heavy (no application object, no store).
    if (argc >= 2)
        if (const auto command = platform::ControlLine::fromOption(argv[1]))
            return platform::ControlClient::run(*command);

    platform::Runtime runtime(argc, argv);
    if (runtime.handOverToRunningInstance()) return 0;
    AppDelegate::Parts parts;
    parts.updater = std::make_unique<platform::AppcastUpdater>(kUpdateFeed);
    AppDelegate delegate(std::move(parts));
    runtime.onReopen = [&delegate] { delegate.applicationShouldHandleReopen(); };
    runtime.onControl = [&delegate](platform::ControlCommand command) { delegate.handleControl(command); };
    runtime.onTerminate = [&delegate] { delegate.applicationWillTerminate(); };
    runtime.onTerminationRequested = [&delegate](std::function<void()> quit) {
        delegate.finishDictationThenQuit(std::move(quit));
    };
    runtime.whenLaunched([&delegate] { delegate.applicationDidFinishLaunching(); });
    return runtime.exec();
}
