#include "app/AppDelegate.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/AppcastUpdater.h"
#include "platform/loader/Runtime.h"

namespace {
// Deployment configuration: where released versions are announced.
constexpr const char* kUpdateFeed = "https://tovrin.app/appcast.xml";
}

int main(int argc, char** argv) {
    platform::Runtime runtime(argc, argv);
    if (runtime.handOverToRunningInstance()) return 0;
    AppDelegate::Parts parts;
    parts.updater = std::make_unique<platform::AppcastUpdater>(kUpdateFeed);
    AppDelegate delegate(std::move(parts));
    runtime.onReopen = [&delegate] { delegate.applicationShouldHandleReopen(); };
    runtime.onTerminate = [&delegate] { delegate.applicationWillTerminate(); };
    runtime.onTerminationRequested = [&delegate](std::function<void()> quit) {
        delegate.finishDictationThenQuit(std::move(quit));
    };
    runtime.whenLaunched([&delegate] { delegate.applicationDidFinishLaunching(); });
    return runtime.exec();
}
